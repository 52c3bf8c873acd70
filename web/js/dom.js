// Small helpers for building the page without a framework.

export function h(tag, attributes = {}, ...children) {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value === undefined || value === null || value === false) continue;
    if (name === 'className') element.className = value;
    else if (name.startsWith('on')) element.addEventListener(name.slice(2), value);
    else element.setAttribute(name, value === true ? '' : value);
  }
  element.append(...children.flat().filter((child) => child !== null && child !== undefined));
  return element;
}

const FLASH_MS = 1500;

// Marks an element as just changed for a moment; the style sheet animates it.
export function flash(element) {
  element.classList.remove('changed');
  void element.offsetWidth; // restart the animation when it is still running
  element.classList.add('changed');
  clearTimeout(element.flashTimer);
  element.flashTimer = setTimeout(() => element.classList.remove('changed'), FLASH_MS);
}

export function pathOf({ memory, variable, index, field }) {
  let path = `${memory}.${variable}`;
  if (index !== undefined) path += `[${index}]`;
  if (field !== undefined) path += `.${field}`;
  return path;
}

// Shows a status text beside a control, marked when it reports a failure.
export function tell(note, text, failed = false) {
  note.textContent = text;
  note.classList.toggle('failed', failed);
}
