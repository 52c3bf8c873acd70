// The pinned numbers' recent history, as the page saw them change: per pinned
// value a ring of (time, value) points in fixed memory. A gap point (NaN)
// marks where the page lost the service, so a chart breaks its line there
// instead of joining values across a time it did not see.

import { pathOf } from './dom.js';
import { kindOf } from './values.js';

// 15 minutes at 10 changes a second, with room for gap points.
export const KEPT_POINTS = 15 * 60 * 10 + 600;

const GAP = NaN;

class Ring {
  constructor(capacity) {
    this.times = new Float64Array(capacity);
    this.values = new Float64Array(capacity);
    this.first = 0;
    this.length = 0;
  }

  slot(i) {
    return (this.first + i) % this.times.length;
  }

  push(time, value) {
    if (this.length < this.times.length) this.length++;
    else this.first = this.slot(1);
    const at = this.slot(this.length - 1);
    this.times[at] = time;
    this.values[at] = value;
  }

  // The points as [times, values], gaps as null, from the last one before
  // `from` on (the line enters the window from its left edge).
  since(from) {
    let start = this.length;
    while (start > 0 && this.times[this.slot(start - 1)] >= from) start--;
    if (start > 0) start--;
    const times = [];
    const values = [];
    for (let i = start; i < this.length; i++) {
      const at = this.slot(i);
      times.push(this.times[at]);
      values.push(Number.isNaN(this.values[at]) ? null : this.values[at]);
    }
    return [times, values];
  }

  get lastValue() {
    return this.length ? this.values[this.slot(this.length - 1)] : undefined;
  }
}

export function isNumber(desc) {
  const kind = kindOf(desc);
  return kind === 'int' || kind === 'float';
}

// The number a catalogue value holds, or undefined when it is no number.
export function numberOf(desc) {
  const number = isNumber(desc) ? Number(desc.value) : NaN;
  return Number.isFinite(number) ? number : undefined;
}

// The value a pin names, out of a variable's value.
export function pick(value, target) {
  return target.field === undefined ? value : value?.[target.field];
}

// Pins as local storage kept them; anything unreadable is dropped.
export function parsePins(text) {
  let pins;
  try {
    pins = JSON.parse(text ?? '[]');
  } catch {
    return [];
  }
  if (!Array.isArray(pins)) return [];
  const named = (name) => typeof name === 'string' && name !== '';
  return pins.filter((pin) => named(pin?.memory) && named(pin.variable) && (pin.field === undefined || named(pin.field)))
    .map(({ memory, variable, field }) => (field === undefined ? { memory, variable } : { memory, variable, field }));
}

// Two ascending lists of times as one, each time once: a merge rather than a
// sort, as this runs on every redraw of a 15-minute window.
function mergeTimes(a, b) {
  const merged = [];
  let i = 0;
  let j = 0;
  while (i < a.length || j < b.length) {
    const next = j === b.length || (i < a.length && a[i] <= b[j]) ? a[i++] : b[j++];
    if (merged.at(-1) !== next) merged.push(next);
  }
  return merged;
}

export class TrendStore {
  constructor(capacity = KEPT_POINTS) {
    this.capacity = capacity;
    this.trends = new Map(); // path -> {target, ring}
  }

  get targets() {
    return [...this.trends.values()].map((trend) => trend.target);
  }

  has(target) {
    return this.trends.has(pathOf(target));
  }

  // Returns whether the value is pinned afterwards.
  toggle(target) {
    const path = pathOf(target);
    if (this.trends.delete(path)) return false;
    this.trends.set(path, { target, ring: new Ring(this.capacity) });
    return true;
  }

  // Keeps each pinned value that differs from the last one kept (the first
  // value after a gap always). read(target) gives the value's description.
  sample(time, read) {
    for (const { target, ring } of this.trends.values()) {
      const number = numberOf(read(target));
      if (number !== undefined && number !== ring.lastValue) ring.push(time, number);
    }
  }

  gap(time) {
    for (const { ring } of this.trends.values()) {
      if (ring.length && !Number.isNaN(ring.lastValue)) ring.push(time, GAP);
    }
  }

  // What a chart of the last `span` ms up to `now` draws: the times at which
  // anything changed, and per pinned value its value at each of them (held
  // since its last change; null before its first and from a gap on).
  window(now, span) {
    const points = [...this.trends.values()].map(({ ring }) => ring.since(now - span));
    const times = points.reduce((merged, [pointTimes]) => mergeTimes(merged, pointTimes), []);
    if (!(times.at(-1) >= now)) times.push(now);
    return [times, ...points.map(([pointTimes, values]) => {
      let next = 0;
      let held = null;
      return times.map((time) => {
        while (next < pointTimes.length && pointTimes[next] <= time) held = values[next++];
        return held;
      });
    })];
  }

  // Everything kept, one row per moment something changed, the columns the
  // pinned values; gaps are no change and have no row.
  csv() {
    const rows = new Map(); // time -> cells
    const columns = this.trends.size;
    [...this.trends.values()].forEach(({ ring }, column) => {
      const [times, values] = ring.since(-Infinity);
      times.forEach((time, i) => {
        if (values[i] === null) return;
        if (!rows.has(time)) rows.set(time, new Array(columns).fill(''));
        rows.get(time)[column] = String(values[i]);
      });
    });
    const lines = [['time', ...this.trends.keys()].join(',')];
    for (const time of [...rows.keys()].sort((a, b) => a - b)) {
      lines.push([new Date(time).toISOString(), ...rows.get(time)].join(','));
    }
    return `${lines.join('\n')}\n`;
  }
}
