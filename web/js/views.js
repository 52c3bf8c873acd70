// Views of values of every shape: described values get an editor, structures
// a table of their fields, lists of structures a paged table, and values the
// service failed to render their error text. Every view can take a new value
// in place (update returns false when the shape changed and it must be built
// anew).

import { flash, h, pathOf } from './dom.js';
import { ValueEditor } from './editors.js';
import { isWritableField } from './set-body.js';
import { isDescription, kindOf, limitsLabel, typeLabel } from './values.js';

const PAGE_SIZE = 20;

// writer is null for values that cannot be addressed by a write. A write names
// at most a variable, an element and a field, so only described values at that
// depth get one: the service would search a structure nested in a field with
// the outer address and write past it.
const writerFor = (value, writer) => (isDescription(value) ? writer : null);

// pins: {controlFor(target, value)} gives a number's chart control; only a
// variable and its structure's fields get one.
export function createView(value, target, writer, pins = null) {
  switch (kindOf(value)) {
    case 'list': return new ListView(value, target, writer);
    case 'struct': return new StructView(value, target, writer, pins);
    case 'error': return new ErrorView(value);
    case 'unknown': return new ErrorView({ ERROR: `Unexpected value ${JSON.stringify(value)}` });
    default: {
      const reason = target.field !== undefined && !isWritableField(target.field)
        ? 'A field with this name cannot be written through the web interface' : '';
      return new ValueEditor(value, target, writer, reason);
    }
  }
}

class ErrorView {
  constructor(value) {
    this.element = h('span', { className: 'value-error' }, value.ERROR);
  }

  update(value) {
    if (kindOf(value) !== 'error') return false;
    if (this.element.textContent !== value.ERROR) {
      this.element.textContent = value.ERROR;
      flash(this.element);
    }
    return true;
  }
}

// A single structure: one line per field. Its fields are written one by one;
// fields holding further structures are shown but not written.
class StructView {
  constructor(value, target, writer, pins) {
    this.fields = new Map();
    const rows = Object.entries(value).map(([field, fieldValue]) => {
      const view = createView(fieldValue, { ...target, field }, writerFor(fieldValue, writer));
      this.fields.set(field, view);
      return h('tr', {},
        h('th', { scope: 'row' }, field),
        h('td', {}, view.element, pins?.controlFor({ ...target, field }, fieldValue)),
        h('td', { className: 'type' }, typeLabel(fieldValue)),
        h('td', { className: 'limits' }, limitsLabel(fieldValue)));
    });
    this.element = h('table', { className: 'fields' }, h('tbody', {}, rows));
  }

  update(value) {
    if (kindOf(value) !== 'struct') return false;
    const names = Object.keys(value);
    if (names.length !== this.fields.size || !names.every((name) => this.fields.has(name))) return false;
    return names.every((name) => this.fields.get(name).update(value[name]));
  }
}

// A list of structures (or of values), one table row per element, one page of
// rows at a time: only the visible page exists in the document.
class ListView {
  constructor(list, target, writer) {
    this.list = list;
    this.target = target;
    this.writer = writer;
    this.first = 0;
    this.columns = columnsOf(list);
    this.body = h('tbody');
    this.position = h('span', { className: 'position' });
    this.jump = h('input', {
      type: 'number', min: 0, max: Math.max(list.length - 1, 0), placeholder: 'element', title: 'Go to element',
      onchange: () => this.showPage(Number(this.jump.value)),
    });
    const button = (label, title, page) => h('button', { type: 'button', title, onclick: () => this.showPage(page()) }, label);
    const pager = list.length > PAGE_SIZE ? h('div', { className: 'pager' },
      button('«', 'First page', () => 0),
      button('‹', 'Previous page', () => this.first - PAGE_SIZE),
      this.position,
      button('›', 'Next page', () => this.first + PAGE_SIZE),
      button('»', 'Last page', () => list.length - 1),
      this.jump) : null;
    const head = h('thead', {}, h('tr', {}, h('th', {}, '#'), this.columns.map((column) => h('th', {}, column))));
    this.element = h('div', { className: 'list', 'data-path': pathOf(target) },
      pager, h('table', { className: 'elements' }, head, this.body));
    this.showPage(0);
  }

  showPage(index) {
    const last = Math.max(this.list.length - 1, 0);
    this.first = Math.floor(Math.min(Math.max(index || 0, 0), last) / PAGE_SIZE) * PAGE_SIZE;
    const end = Math.min(this.first + PAGE_SIZE, this.list.length);
    this.position.textContent = `${this.first}–${end - 1} of ${this.list.length}`;
    this.rows = [];
    for (let i = this.first; i < end; i++) this.rows.push(this.makeRow(i));
    this.body.replaceChildren(...this.rows.map((row) => row.element));
  }

  makeRow(index) {
    const element = this.list[index];
    const target = { ...this.target, index };
    if (kindOf(element) !== 'struct') {
      const view = createView(element, target, null);
      return { cells: [view], element: h('tr', {}, indexCell(index), h('td', { colspan: this.columns.length }, view.element)) };
    }
    const cells = this.columns.map((column) =>
      createView(element[column], { ...target, field: column }, writerFor(element[column], this.writer)));
    // The labels name the columns where a narrow screen stacks the cells.
    return { cells, element: h('tr', { 'data-index': index }, indexCell(index),
      cells.map((cell, i) => h('td', { 'data-label': this.columns[i] }, cell.element))) };
  }

  update(list) {
    if (!Array.isArray(list) || list.length !== this.list.length) return false;
    const columns = columnsOf(list);
    if (columns.join() !== this.columns.join()) return false;
    this.list = list;
    this.rows.forEach((row, offset) => {
      const index = this.first + offset;
      const element = list[index];
      const patched = kindOf(element) === 'struct'
        ? row.cells.length === columns.length && row.cells.every((cell, i) => cell.update(element[columns[i]]))
        : row.cells.length === 1 && row.cells[0].update(element);
      if (!patched) {
        const fresh = this.makeRow(index);
        row.element.replaceWith(fresh.element);
        this.rows[offset] = fresh;
        flash(fresh.element);
      }
    });
    return true;
  }
}

const indexCell = (index) => h('th', { 'data-label': '#' }, String(index));

function columnsOf(list) {
  const sample = list.find((element) => kindOf(element) === 'struct');
  return sample ? Object.keys(sample) : [];
}

// One variable of a memory: name, value, type and limits.
export class VariableRow {
  constructor(memory, variable, value, writer, pins) {
    this.target = { memory, variable };
    this.writer = writer;
    this.pins = pins;
    this.valueCell = h('td', { className: 'value' });
    this.typeCell = h('td', { className: 'type' });
    this.limitsCell = h('td', { className: 'limits' });
    this.element = h('tr', { 'data-var': pathOf(this.target) },
      h('th', { scope: 'row' }, variable), this.valueCell, this.typeCell, this.limitsCell);
    this.build(value);
  }

  build(value) {
    this.view = createView(value, this.target, this.writer, this.pins);
    this.valueCell.replaceChildren(this.view.element, this.pins.controlFor(this.target, value) ?? '');
    this.typeCell.textContent = typeLabel(value);
    this.limitsCell.textContent = limitsLabel(value);
  }

  update(value) {
    if (this.view.update(value)) {
      this.limitsCell.textContent = limitsLabel(value);
      return;
    }
    this.build(value);
    flash(this.element);
  }
}
