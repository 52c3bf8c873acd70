// The page's copy of the device's variables, filled from all.cgi and kept
// current from update.cgi.

import { isPlainObject } from './tolerant-json.js';

export class Store {
  constructor() {
    this.memories = new Map(); // memory name -> Map(variable name -> value)
    this.holders = new Map(); // variable name -> memory names that list it
  }

  get(memory, variable) {
    return this.memories.get(memory)?.get(variable);
  }

  // Replaces everything with an all.cgi document. Returns the changed
  // variables, or null when the set of memories or variables differs from
  // before (then nothing can be patched in place).
  load(document) {
    const incoming = variablesOf(document);
    const sameShape = this.hasShape(incoming);
    const changes = sameShape ? this.changesFor(incoming, (memory) => [memory]) : null;
    this.memories = new Map(
      Object.entries(incoming).map(([memory, variables]) => [memory, new Map(Object.entries(variables))]),
    );
    this.holders = new Map();
    for (const [memory, variables] of this.memories) {
      for (const variable of variables.keys()) {
        if (!this.holders.has(variable)) this.holders.set(variable, []);
        this.holders.get(variable).push(memory);
      }
    }
    return changes;
  }

  // Applies an update.cgi answer and returns the variables whose value
  // changed. A variable that several memories list is one variable stored
  // once; the service reports it under one of them only, so every copy
  // follows.
  apply(document) {
    const changes = this.changesFor(variablesOf(document), (memory, variable) =>
      this.holders.get(variable) ?? [memory]);
    for (const { memory, variable, value } of changes) this.memories.get(memory).set(variable, value);
    return changes;
  }

  changesFor(incoming, copiesOf) {
    const changes = [];
    for (const [memory, variables] of Object.entries(incoming)) {
      for (const [variable, value] of Object.entries(variables)) {
        for (const copy of copiesOf(memory, variable)) {
          const known = this.memories.get(copy);
          if (!known?.has(variable)) continue;
          if (JSON.stringify(known.get(variable)) !== JSON.stringify(value)) {
            changes.push({ memory: copy, variable, value });
          }
        }
      }
    }
    return changes;
  }

  hasShape(incoming) {
    const memories = Object.keys(incoming);
    if (memories.length !== this.memories.size) return false;
    return memories.every((memory) => {
      const known = this.memories.get(memory);
      const names = Object.keys(incoming[memory]);
      return known !== undefined && known.size === names.length && names.every((name) => known.has(name));
    });
  }
}

function variablesOf(document) {
  if (!isPlainObject(document) || !isPlainObject(document.variables)) {
    throw new Error('The answer holds no variables');
  }
  return document.variables;
}
