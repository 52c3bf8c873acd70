// Builds set.cgi bodies. The service's reader knows no escape sequences but
// accepts single as well as double quotes, so a value is wrapped in whichever
// quote it does not contain; it cannot carry both.

export class UnsendableValue extends Error {}

export function quoteValue(text) {
  if (!text.includes('"')) return `"${text}"`;
  if (!text.includes("'")) return `'${text}'`;
  throw new UnsendableValue('A value cannot contain both kinds of quote');
}

// target: {memory, variable} for a whole variable; add `field` for a field of
// a structure and `index` for an element of a list of structures.
export function setBody({ memory, variable, index, field }, text) {
  const value = quoteValue(text);
  if (field === undefined) return `{"${memory}": {"${variable}": ${value}}}`;
  const element = index === undefined ? '' : `"Index": ${index}, `;
  return `{"${memory}": {${element}"${variable}": {"${field}": ${value}}}}`;
}

// The service takes any key "Index" in a body as the element index, so a
// structure field of that name cannot be written without moving the write.
export function isWritableField(field) {
  return field !== 'Index';
}
