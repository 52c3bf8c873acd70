// What the page knows about a value as the service describes it: its kind,
// how to show its limits, and whether a text the user typed may be sent.

import { isPlainObject } from './tolerant-json.js';

export function kindOf(value) {
  if (Array.isArray(value)) return 'list';
  if (!isPlainObject(value)) return 'unknown';
  if ('ERROR' in value) return 'error';
  if (typeof value.type === 'string' && 'value' in value) {
    if (Array.isArray(value.textid)) return 'choice';
    if (value.type === 'int' || value.type === 'float') return value.type;
    return 'text';
  }
  return 'struct';
}

// A value the service describes (as opposed to a structure, a list or a failure).
export function isDescription(value) {
  return !['list', 'struct', 'error', 'unknown'].includes(kindOf(value));
}

// A buffer is described with the type "string" and its byte count as maximum;
// a real string has the maximum "0".
export function isBuffer(desc) {
  return desc.type === 'string' && Number(desc.max) > 0;
}

export function typeLabel(value) {
  switch (kindOf(value)) {
    case 'list': return `list of ${value.length}`;
    case 'struct': return 'structure';
    case 'error': return 'error';
    case 'unknown': return typeof value;
    default: return isBuffer(value) ? 'buffer' : value.type;
  }
}

export function limitsLabel(value) {
  const kind = kindOf(value);
  if (kind === 'int' || kind === 'float') return `${value.min} … ${value.max}`;
  if (kind === 'choice' && value.type !== 'bool') return `${value.textid.length} choices`;
  if (kind === 'text' && isBuffer(value)) return `${value.max} bytes, hex`;
  return '';
}

const INT = /^([+-]?)(0[xX][0-9a-fA-F]+|\d+)$/;
const FLOAT = /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/;

function parseInteger(text) {
  const match = INT.exec(text);
  if (!match) return NaN;
  const magnitude = /^0[xX]/.test(match[2]) ? parseInt(match[2].slice(2), 16) : parseInt(match[2], 10);
  return match[1] === '-' ? -magnitude : magnitude;
}

function checkRange(desc, number) {
  if (number < Number(desc.min) || number > Number(desc.max)) return `Out of range ${desc.min} … ${desc.max}`;
  return '';
}

// Turns what the user typed into the text to send, or explains why it cannot
// be sent: {text} or {error}. The service does not check limits; the page does,
// since that is what they are published for. Integers go out in plain decimal,
// because the service would read a leading zero as octal.
export function prepareInput(desc, typed) {
  const text = typed.trim();
  switch (kindOf(desc)) {
    case 'int': {
      const number = parseInteger(text);
      if (Number.isNaN(number)) return { error: 'Not an integer' };
      const error = checkRange(desc, number);
      return error ? { error } : { text: String(number) };
    }
    case 'float': {
      if (!FLOAT.test(text)) return { error: 'Not a number' };
      const error = checkRange(desc, Number(text));
      return error ? { error } : { text };
    }
    case 'choice':
      return desc.textid.includes(typed) ? { text: typed } : { error: 'Not one of the choices' };
    case 'text':
      if (!isBuffer(desc)) return { text: typed };
      if (!/^([0-9a-fA-F]{2})*$/.test(text)) return { error: 'Hex digit pairs expected' };
      if (text.length > 2 * Number(desc.max)) return { error: `At most ${desc.max} bytes` };
      return { text };
    default:
      return { error: 'This value cannot be edited' };
  }
}
