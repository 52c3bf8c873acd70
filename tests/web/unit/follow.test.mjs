import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { fetchAll, fetchUpdate } from '../../../web/js/api.js';
import { Follower, HELD_MEANS_LIVE_MS, LONGEST_RETRY_MS, nextDelay } from '../../../web/js/follow.js';
import { ParseError } from '../../../web/js/tolerant-json.js';

// Plays a scripted service: each request takes the next scripted outcome (a
// value, an Error to fail with, or a function giving either); the play ends
// when a script runs out. Answers carry tokens when the script gives them as
// [document, token] pairs, and null for a gateway time-out. Updates settle after `updateMs`; the wait that
// proves a held request settles after 50 ms. Resolves to a log of what the
// follower did.
function play({ trees, updates, quietMs = 5000, updateMs = 5 }) {
  const log = [];
  let clock = 0;
  const settle = (ms) => new Promise((resolve) => { setTimeout(resolve, ms); });
  const answer = (outcome) => {
    if (outcome === null) return null;
    return Array.isArray(outcome) ? { document: outcome[0], token: outcome[1] } : { document: outcome, token: null };
  };
  const next = async (script, what, delay) => {
    log.push(what);
    if (script.length === 0) {
      follower.stop();
      throw new Error('end of script');
    }
    const outcome = script.shift();
    await settle(delay);
    const result = typeof outcome === 'function' ? outcome() : outcome;
    if (result instanceof Error) throw result;
    return answer(result);
  };
  const follower = new Follower({
    fetchAll: () => next(trees, 'tree', 0),
    fetchUpdate: (token) => {
      clock += quietMs;
      return next(updates, `update ${token}`, updateMs);
    },
    sleep: async (ms) => {
      if (ms === HELD_MEANS_LIVE_MS) return settle(50);
      log.push(`sleep ${ms}`);
      return undefined;
    },
    now: () => clock,
  }, {
    onDocument: (tree) => log.push(`document ${tree}`),
    onUpdate: (document) => log.push(`changes ${document}`),
    onStatus: ({ state, retryIn }) => log.push(retryIn ? `${state} ${retryIn}` : state),
  });
  return follower.run().then(() => log);
}

describe('following the service', () => {
  it('follows from the tree\'s change point, always after the newest one received', async () => {
    const log = await play({ trees: [['T', 't1']], updates: [['A', 't2'], ['B', 't3']] });
    assert.deepEqual(log, ['tree', 'document T', 'live', 'update t1', 'changes A', 'update t2', 'changes B', 'update t3']);
  });

  it('backs off while the service is away, then resumes from its point without reading the tree', async () => {
    const down = new Error('HTTP 502');
    const log = await play({ trees: [['T', 't1']], updates: [['A', 't2'], down, down, ['B', 't3']] });
    assert.deepEqual(log, ['tree', 'document T', 'live', 'update t1', 'changes A',
      'update t2', 'offline 500', 'sleep 500', 'connecting',
      'update t2', 'offline 1000', 'sleep 1000', 'connecting',
      'update t2', 'live', 'changes B', 'update t3']);
  });

  it('shows the service live again once it holds the resumed request', async () => {
    const log = await play({ trees: [['T', 't1']], updates: [new Error('HTTP 502'), ['A', 't2']], updateMs: 200 });
    assert.ok(log.indexOf('live', log.indexOf('connecting')) < log.indexOf('changes A'), log.join(', '));
  });

  it('reads the tree again after a failure when the service gives out no points', async () => {
    const log = await play({ trees: ['T1', 'T2'], updates: ['A', new Error('HTTP 502'), 'B'] });
    assert.deepEqual(log.filter((entry) => entry.startsWith('document') || entry.startsWith('update')),
      ['document T1', 'update null', 'update null', 'document T2', 'update null', 'update null']);
  });

  it('reads the tree again after a push it cannot parse, without backing off', async () => {
    const log = await play({ trees: [['T1', 't1'], ['T2', 't5']], updates: [new ParseError('broken', 3), ['B', 't6']] });
    assert.deepEqual(log.filter((entry) => /^(document|offline|update)/.test(entry)),
      ['document T1', 'update t1', 'document T2', 'update t5', 'update t6']);
  });

  it('waits before asking again when the front server gives up at once', async () => {
    const quick = await play({ trees: [['T', 't1']], updates: [null, ['B', 't2']], quietMs: 10 });
    assert.ok(quick.includes('sleep 1000'));
    const slow = await play({ trees: [['T', 't1']], updates: [null, ['B', 't2']], quietMs: 60000 });
    assert.ok(!slow.some((entry) => entry.startsWith('sleep')));
  });

  it('doubles the retry delay up to a limit', () => {
    assert.deepEqual([0, 500, 1000, LONGEST_RETRY_MS].map(nextDelay), [500, 1000, 2000, LONGEST_RETRY_MS]);
  });
});

describe('the service\'s change points', () => {
  it('come with each answer and are asked from; a gateway time-out means nothing changed', async () => {
    const asked = [];
    const answers = [new Response('{"variables": {}}', { headers: { 'X-Change-Sequence': '7:3' } }), new Response('{}'),
      new Response('', { status: 504 }), new Response('', { status: 502 })];
    globalThis.fetch = async (url) => { asked.push(url); return answers.shift(); };
    assert.deepEqual(await fetchAll(), { document: { variables: {} }, token: '7:3' });
    assert.deepEqual(await fetchUpdate('7:3'), { document: {}, token: null });
    assert.equal(await fetchUpdate(null), null);
    await assert.rejects(fetchUpdate('x y'), /HTTP 502/);
    assert.deepEqual(asked, ['/api/v1/all.cgi', '/api/v1/update.cgi?since=7%3A3', '/api/v1/update.cgi', '/api/v1/update.cgi?since=x%20y']);
  });
});
