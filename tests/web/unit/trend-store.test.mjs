import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { KEPT_POINTS, parsePins, TrendStore } from '../../../web/js/trend-store.js';

const int = (value) => ({ max: '255', min: '0', type: 'int', value: String(value) });
const rssi = { memory: 'MemDynamic', variable: 'RadioRSSI' };
const torque = { memory: 'MemMotors', variable: 'FocusMotor', field: 'Torque' };

// A store pinning both, fed by a function of time for each.
function pinned(...targets) {
  const trends = new TrendStore();
  for (const target of targets) trends.toggle(target);
  const values = new Map();
  const read = (target) => values.get(target.variable);
  return { trends, sample: (time, rssiValue, torqueValue) => {
    values.set('RadioRSSI', rssiValue);
    values.set('FocusMotor', torqueValue);
    trends.sample(time, read);
  } };
}

describe('trends of pinned numbers', () => {
  it('keeps changes only, breaks the line where the service was lost, and draws values held to now', () => {
    const { trends, sample } = pinned(rssi, torque);
    sample(1000, int(5), int(1));
    sample(2000, int(5), int(2)); // rssi unchanged: no point
    sample(2500, { type: 'string', value: '9' }, int(2)); // no number: nothing kept
    trends.gap(3000);
    trends.gap(3100); // still cut off: one gap
    sample(4000, int(5), int(2)); // known again, though unchanged
    sample(5000, int(6), int(2));
    assert.deepEqual(trends.window(6000, 10_000), [
      [1000, 2000, 3000, 4000, 5000, 6000],
      [5, 5, null, 5, 6, 6],
      [1, 2, null, 2, 2, 2],
    ]);
    // A window starts with the value held into it; a gap ends the hold to now.
    trends.gap(7000);
    assert.deepEqual(trends.window(8000, 3500), [[4000, 5000, 7000, 8000], [5, 6, null, null], [2, 2, null, null]]);
  });

  it('writes the CSV: one row per moment of change, columns by pin, times in UTC with milliseconds, no rows for gaps', () => {
    const { trends, sample } = pinned(rssi, torque);
    sample(Date.UTC(2026, 0, 2, 3, 4, 5, 6), int(5), int(1));
    sample(Date.UTC(2026, 0, 2, 3, 4, 6), int(-7), int(1));
    trends.gap(Date.UTC(2026, 0, 2, 3, 4, 7));
    assert.equal(trends.csv(), [
      'time,MemDynamic.RadioRSSI,MemMotors.FocusMotor.Torque',
      '2026-01-02T03:04:05.006Z,5,1',
      '2026-01-02T03:04:06.000Z,-7,',
      '',
    ].join('\n'));
    assert.equal(trends.toggle(rssi), false);
    assert.equal(trends.csv().split('\n')[0], 'time,MemMotors.FocusMotor.Torque');
  });

  it('keeps 15 minutes at 10 changes a second in bounded memory, dropping the oldest', () => {
    const { trends, sample } = pinned(rssi);
    const changes = 15 * 60 * 10;
    for (let i = 0; i < changes; i++) sample(i * 100, int(i % 2), undefined);
    assert.equal(trends.window(changes * 100, Infinity)[0][0], 0);
    for (let i = changes; i < KEPT_POINTS + 10; i++) sample(i * 100, int(i % 2), undefined);
    const [times] = trends.window((KEPT_POINTS + 10) * 100, Infinity);
    assert.equal(times.length, KEPT_POINTS + 1); // and the time "now"
    assert.equal(times[0], 1000);
  });

  it('reads back only well-formed pins from storage', () => {
    assert.deepEqual(parsePins(JSON.stringify([rssi, torque, { memory: 'M' }, null, { ...rssi, field: 3 }])), [rssi, torque]);
    for (const text of [null, '', '{', '{"a":1}']) assert.deepEqual(parsePins(text), []);
  });
});
