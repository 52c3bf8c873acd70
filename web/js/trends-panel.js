// The Trends panel: the pinned numbers drawn against time by the chart
// library (its own script element makes it the global uPlot), redrawn from
// the changes the page follows anyway, the pins kept in local storage, and
// what is kept downloadable as CSV.

import { h, pathOf, tell } from './dom.js';
import { isNumber, parsePins, TrendStore } from './trend-store.js';

const PINS_KEY = 'trend-pins';
const COLOURS = ['#1f6feb', '#d1242f', '#1a7f37', '#9a6700', '#8250df', '#0598bc', '#bf3989', '#57606a'];
const HEIGHT = 240;
// How often the time axis moves on while nothing changes.
const SLIDE_MS = 1000;
const compact = new Intl.NumberFormat(undefined, { notation: 'compact', maximumFractionDigits: 3 });

function chartIcon() {
  const svg = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
  svg.setAttribute('viewBox', '0 0 16 16');
  svg.setAttribute('aria-hidden', 'true');
  const line = document.createElementNS(svg.namespaceURI, 'polyline');
  line.setAttribute('points', '1,13 5,7 9,10 15,3');
  svg.append(line);
  return svg;
}

// The data's span with a margin, within the value's limits.
function rangeWithin(limits, min, max) {
  if (min === null || max === null) return [limits[0], limits[1]];
  const margin = (max - min) * 0.1 || Math.abs(max) * 0.1 || 1;
  return [Math.max(min - margin, limits[0]), Math.min(max + margin, limits[1])];
}

export class TrendsPanel {
  // elements: {chart, span, csv, note}; read(target) gives a pinned value's
  // description as the page has it now; storage is the local storage.
  constructor(elements, read, storage, chartLibrary = globalThis.uPlot) {
    Object.assign(this, { elements, read, storage, chartLibrary });
    this.trends = new TrendStore();
    this.colours = new Map(); // path -> colour, kept while pinned
    this.plot = null;
    for (const target of parsePins(storage.getItem(PINS_KEY))) this.flip(target);
    elements.span.addEventListener('change', () => this.draw());
    elements.csv.addEventListener('click', () => this.download());
    new ResizeObserver(() => this.fit()).observe(elements.chart);
    setInterval(() => this.schedule(), SLIDE_MS);
    this.rebuild();
  }

  // The control that pins a number, null for a value that is none.
  controlFor(target, value) {
    if (!isNumber(value)) return null;
    const name = `Chart ${target.field === undefined ? target.variable : `${target.variable}.${target.field}`}`;
    return h('button', {
      type: 'button', className: 'pin', title: name, 'aria-label': name, 'data-pin': pathOf(target),
      'aria-pressed': String(this.trends.has(target)), onclick: () => this.toggle(target),
    }, chartIcon());
  }

  // Pins or unpins, giving a new pin a colour none other has; returns
  // whether the value is pinned now.
  flip(target) {
    if (!this.trends.toggle(target)) {
      this.colours.delete(pathOf(target));
      return false;
    }
    const used = new Set(this.colours.values());
    this.colours.set(pathOf(target), COLOURS.find((colour) => !used.has(colour)) ?? COLOURS[this.colours.size % COLOURS.length]);
    return true;
  }

  toggle(target) {
    const pinned = this.flip(target);
    this.storage.setItem(PINS_KEY, JSON.stringify(this.trends.targets));
    for (const button of document.querySelectorAll(`button.pin[data-pin="${CSS.escape(pathOf(target))}"]`)) {
      button.setAttribute('aria-pressed', String(pinned));
    }
    this.trends.sample(Date.now(), this.read);
    this.rebuild();
  }

  // After a whole tree: the limits the legend shows may have changed.
  loaded() {
    this.trends.sample(Date.now(), this.read);
    this.rebuild();
  }

  changed() {
    this.trends.sample(Date.now(), this.read);
    this.schedule();
  }

  disconnected() {
    this.trends.gap(Date.now());
    this.schedule();
  }

  rebuild() {
    this.plot?.destroy();
    this.plot = null;
    const targets = this.trends.targets;
    if (!targets.length) {
      tell(this.elements.note, 'Nothing pinned: a number\'s chart button beside its value draws it here.');
      return;
    }
    if (!this.chartLibrary) {
      tell(this.elements.note, 'The chart library is missing; the CSV still holds the changes.', true);
      return;
    }
    tell(this.elements.note, '');
    this.plot = new this.chartLibrary(this.options(targets), this.data(), this.elements.chart);
    const follow = (event) => {
      const box = this.plot.over.getBoundingClientRect();
      const [touch] = event.touches;
      this.plot.setCursor({ left: touch.clientX - box.left, top: touch.clientY - box.top });
    };
    this.plot.over.addEventListener('touchstart', follow, { passive: true });
    this.plot.over.addEventListener('touchmove', follow, { passive: true });
  }

  options(targets) {
    const scales = { x: { time: true, range: () => this.shown } };
    const series = targets.map((target) => {
      const path = pathOf(target);
      const desc = this.read(target);
      const known = isNumber(desc);
      const limits = known ? [Number(desc.min), Number(desc.max)] : [-Infinity, Infinity];
      scales[path] = { range: (plot, min, max) => rangeWithin(limits, min, max) };
      return {
        label: known ? `${path} (${desc.min} … ${desc.max})` : path,
        scale: path,
        stroke: this.colours.get(path),
        width: 2,
        // Held from one change to the next; a gap runs from where the
        // service was lost to the next value.
        paths: this.chartLibrary.paths.stepped({ align: 1, alignGaps: 1 }),
        points: { show: false },
        // Away from the chart the legend shows the values now.
        value: (plot, value, index, at) => String((at === null ? plot.data[index].at(-1) : value) ?? '–'),
      };
    });
    const axes = series.slice(0, 2).map(({ scale, stroke }, i) => ({
      scale, stroke, side: i ? 1 : 3, grid: { show: i === 0 }, size: 56,
      values: (plot, ticks) => ticks.map((tick) => compact.format(tick)),
    }));
    return {
      width: this.elements.chart.clientWidth, height: HEIGHT, ms: 1,
      cursor: { drag: { x: false, y: false } },
      scales,
      series: [{ label: 'Time', value: (plot, time) => (time === null ? 'now' : new Date(time).toLocaleTimeString()) }, ...series],
      axes: [{}, ...axes],
    };
  }

  data() {
    const now = Date.now();
    const span = Number(this.elements.span.value) * 60_000;
    this.shown = [now - span, now];
    return this.trends.window(now, span);
  }

  draw() {
    this.plot?.setData(this.data());
  }

  schedule() {
    if (!this.plot || this.scheduled) return;
    this.scheduled = true;
    requestAnimationFrame(() => {
      this.scheduled = false;
      this.draw();
    });
  }

  fit() {
    const width = this.elements.chart.clientWidth;
    if (this.plot && width !== this.plot.width) this.plot.setSize({ width, height: HEIGHT });
  }

  download() {
    const url = URL.createObjectURL(new Blob([this.trends.csv()], { type: 'text/csv' }));
    h('a', { href: url, download: `trends-${new Date().toISOString().replace(/[:.]/g, '-')}.csv` }).click();
    setTimeout(() => URL.revokeObjectURL(url), 60_000);
  }
}
