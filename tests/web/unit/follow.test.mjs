import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { Follower, LONGEST_RETRY_MS, nextDelay } from '../../../web/js/follow.js';
import { ParseError } from '../../../web/js/tolerant-json.js';

// Plays a scripted service: each request takes the next scripted outcome (a
// value, an Error to fail with, or a function giving either); the play ends
// when a script runs out. Pushes come a moment after they are asked for, as
// held requests do, and (unless `early`) not before the tree read in the same
// round has settled, so that a busy machine cannot let them overtake it.
// Resolves to a log of what the follower did.
function play({ trees, updates, quietMs = 5000, early = false }) {
  const log = [];
  let clock = 0;
  let lastTree = Promise.resolve();
  const next = (script, what, delay = 0, after = Promise.resolve()) => {
    log.push(what);
    if (script.length === 0) {
      follower.stop();
      return Promise.reject(new Error('end of script'));
    }
    const outcome = script.shift();
    return after.then(() => new Promise((resolve) => { setTimeout(resolve, delay); })).then(() => {
      const result = typeof outcome === 'function' ? outcome() : outcome;
      return result instanceof Error ? Promise.reject(result) : result;
    });
  };
  const follower = new Follower({
    fetchAll: () => {
      const tree = next(trees, 'tree');
      lastTree = tree.catch(() => {});
      return tree;
    },
    fetchUpdate: () => {
      clock += quietMs;
      // The follower asks for the tree right after the push, in the same turn.
      return next(updates, 'update', 5, early ? Promise.resolve() : Promise.resolve().then(() => lastTree));
    },
    sleep: async (ms) => { log.push(`sleep ${ms}`); },
    now: () => clock,
  }, {
    onDocument: (tree) => log.push(`document ${tree}`),
    onUpdate: (answer) => log.push(`changes ${answer}`),
    onStatus: ({ state, retryIn }) => log.push(retryIn ? `${state} ${retryIn}` : state),
  });
  return follower.run().then(() => log);
}

describe('following the service', () => {
  it('reads the tree once, then passes on every pushed change', async () => {
    const log = await play({ trees: ['T'], updates: ['A', 'B'] });
    assert.deepEqual(log, ['update', 'tree', 'document T', 'live', 'changes A', 'update', 'changes B', 'update']);
  });

  it('backs off while the service is away and reads the whole tree again once it is back', async () => {
    const down = new Error('HTTP 502');
    const log = await play({ trees: ['T1', down, down, 'T2'], updates: ['A', down, 'abandoned', 'abandoned', 'B'] });
    const events = log.filter((entry) => entry !== 'update' && entry !== 'tree');
    assert.deepEqual(events, ['document T1', 'live', 'changes A',
      'offline 500', 'sleep 500', 'connecting',
      'offline 1000', 'sleep 1000', 'connecting',
      'offline 2000', 'sleep 2000', 'connecting',
      'document T2', 'live', 'changes B']);
  });

  it('drops a push answered before the tree, which already holds it', async () => {
    let release;
    const tree = new Promise((resolve) => { release = resolve; });
    const log = await play({
      trees: [() => { setTimeout(() => release('T'), 20); return tree; }],
      updates: ['early', 'B'],
      early: true,
    });
    assert.ok(!log.includes('changes early'));
    assert.ok(log.includes('changes B'));
  });

  it('reads the tree again after a push it cannot parse, without backing off', async () => {
    const log = await play({ trees: ['T1', 'T2'], updates: [new ParseError('broken', 3), 'B'] });
    assert.deepEqual(log.filter((entry) => entry.startsWith('document') || entry.startsWith('offline')),
      ['document T1', 'document T2']);
  });

  it('waits before asking again when the front server gives up at once', async () => {
    const quick = await play({ trees: ['T'], updates: [null, 'B'], quietMs: 10 });
    assert.ok(quick.includes('sleep 1000'));
    const slow = await play({ trees: ['T'], updates: [null, 'B'], quietMs: 60000 });
    assert.ok(!slow.some((entry) => entry.startsWith('sleep')));
  });

  it('doubles the retry delay up to a limit', () => {
    let delay = 0;
    const delays = Array.from({ length: 8 }, () => (delay = nextDelay(delay)));
    assert.deepEqual(delays.slice(0, 3), [500, 1000, 2000]);
    assert.equal(delays.at(-1), LONGEST_RETRY_MS);
  });
});
