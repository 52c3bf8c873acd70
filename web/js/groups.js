// The memories as collapsible groups. A group's rows are built the first time
// it is opened (or a filter finds something in it), so the page starts fast
// however many variables there are.

import { h } from './dom.js';
import { VariableRow } from './views.js';

class MemoryGroup {
  constructor(memory, store, writer, pins) {
    this.memory = memory;
    this.store = store;
    this.writer = writer;
    this.pins = pins;
    this.rows = null;
    this.count = h('span', { className: 'count' });
    this.body = h('div', { className: 'group-body' });
    this.element = h('details', { className: 'memory', 'data-memory': memory },
      h('summary', {}, h('span', { className: 'name' }, memory), ' ', this.count), this.body);
    this.element.addEventListener('toggle', () => {
      if (this.element.open) this.render();
    });
    this.setFilter('');
  }

  variables() {
    return this.store.memories.get(this.memory);
  }

  render() {
    if (this.rows) return;
    this.rows = new Map();
    for (const [variable, value] of this.variables()) {
      this.rows.set(variable, new VariableRow(this.memory, variable, value, this.writer, this.pins));
    }
    const head = h('thead', {}, h('tr', {}, ['Variable', 'Value', 'Type', 'Limits'].map((title) => h('th', {}, title))));
    this.body.replaceChildren(h('table', { className: 'variables' }, head,
      h('tbody', {}, [...this.rows.values()].map((row) => row.element))));
    this.applyFilter();
  }

  update(variable, value) {
    this.rows?.get(variable)?.update(value);
  }

  setFilter(text) {
    this.filter = text.toLowerCase();
    const total = this.variables().size;
    const matches = [...this.variables().keys()].filter((name) => this.matches(name)).length;
    this.count.textContent = this.filter ? `${matches} of ${total}` : `${total}`;
    this.element.hidden = this.filter !== '' && matches === 0;
    if (this.filter && matches > 0) {
      this.element.open = true;
      this.render();
    }
    this.applyFilter();
  }

  matches(name) {
    return name.toLowerCase().includes(this.filter);
  }

  applyFilter() {
    if (!this.rows) return;
    for (const [name, row] of this.rows) row.element.hidden = !this.matches(name);
  }
}

export class MemoryGroups {
  // pins: the Trends panel, which gives each number's chart control.
  constructor(container, store, writer, pins) {
    this.container = container;
    this.store = store;
    this.writer = writer;
    this.pins = pins;
    this.groups = new Map();
    this.filter = '';
  }

  // Builds the groups anew, keeping open the ones that were open.
  rebuild() {
    const open = new Set([...this.groups.values()].filter((g) => g.element.open).map((g) => g.memory));
    this.groups = new Map([...this.store.memories.keys()].map((memory) =>
      [memory, new MemoryGroup(memory, this.store, this.writer, this.pins)]));
    this.container.replaceChildren(...[...this.groups.values()].map((group) => group.element));
    for (const group of this.groups.values()) {
      if (this.filter) group.setFilter(this.filter);
      if (open.has(group.memory)) group.element.open = true;
    }
  }

  show(changes) {
    for (const { memory, variable, value } of changes) this.groups.get(memory)?.update(variable, value);
  }

  setFilter(text) {
    this.filter = text.trim();
    for (const group of this.groups.values()) group.setFilter(this.filter);
  }
}
