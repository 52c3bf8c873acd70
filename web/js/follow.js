// Keeps the page's copy current: reads the whole tree, then follows changes by
// long polling. Any failure (the service restarting, the front server answering
// 502) is retried with a growing delay, and the whole tree is read again after
// it, since changes made meanwhile were pushed to nobody.

import { ParseError } from './tolerant-json.js';

export const FIRST_RETRY_MS = 500;
export const LONGEST_RETRY_MS = 10000;
// A gateway time-out that comes back quicker than this is a misconfigured
// front server rather than a quiet device; do not spin on it.
const QUICKEST_QUIET_POLL_MS = 1000;

export function nextDelay(previous) {
  return previous === 0 ? FIRST_RETRY_MS : Math.min(previous * 2, LONGEST_RETRY_MS);
}

const RELOAD = Symbol('reload');
const STALE = Symbol('stale');

export class Follower {
  // io: {fetchAll(signal), fetchUpdate(signal), sleep(ms), now()}
  // listener: {onDocument(doc), onUpdate(doc), onStatus({state, error, retryIn})}
  constructor(io, listener) {
    this.io = io;
    this.listener = listener;
    this.stopped = false;
    this.abort = null;
  }

  stop() {
    this.stopped = true;
    this.abort?.abort();
  }

  async run() {
    let delay = 0;
    let haveTree = false;
    while (!this.stopped) {
      this.abort = new AbortController();
      const started = this.io.now();
      // The update request goes out before the tree is read, so that it is
      // already held when a change after the read happens. An answer that
      // comes before the tree describes changes the tree already holds.
      const update = this.io.fetchUpdate(this.abort.signal).then(
        (answer) => (haveTree ? answer : STALE),
        (error) => (error instanceof ParseError ? RELOAD : Promise.reject(error)),
      );
      update.catch(() => {}); // awaited below, unless reading the tree fails first
      try {
        if (!haveTree) {
          this.listener.onDocument(await this.io.fetchAll(this.abort.signal));
          haveTree = true;
          this.listener.onStatus({ state: 'live' });
        }
        const answer = await update;
        delay = 0;
        if (answer === RELOAD) haveTree = false;
        else if (answer === null && this.io.now() - started < QUICKEST_QUIET_POLL_MS) {
          await this.io.sleep(QUICKEST_QUIET_POLL_MS);
        } else if (answer !== null && answer !== STALE) this.listener.onUpdate(answer);
      } catch (error) {
        this.abort.abort();
        if (this.stopped) break;
        haveTree = false;
        delay = nextDelay(delay);
        this.listener.onStatus({ state: 'offline', error, retryIn: delay });
        await this.io.sleep(delay);
        this.listener.onStatus({ state: 'connecting' });
      }
    }
  }
}
