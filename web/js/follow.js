// Keeps the page's copy current: reads the whole tree, then follows changes by
// long polling from the change point the tree stood for, always asking for
// what changed after the newest point received. Any failure (the service
// restarting, the front server answering 502) is retried with a growing
// delay and then resumes from that point, so nothing changed meanwhile is
// missed; a service restarted since does not know the point and answers
// with every variable.

import { ParseError } from './tolerant-json.js';

export const FIRST_RETRY_MS = 500;
export const LONGEST_RETRY_MS = 10000;
// A gateway time-out that comes back quicker than this is a misconfigured
// front server rather than a quiet device; do not spin on it.
const QUICKEST_QUIET_POLL_MS = 1000;
// After a failure, an update request held this long shows that the service
// is back, though nothing changed to answer it with.
export const HELD_MEANS_LIVE_MS = 2000;

export function nextDelay(previous) {
  return previous === 0 ? FIRST_RETRY_MS : Math.min(previous * 2, LONGEST_RETRY_MS);
}

const RELOAD = Symbol('reload');

export class Follower {
  // io: {fetchAll(signal), fetchUpdate(token, signal), sleep(ms), now()}; both
  // fetches resolve to {document, token}, fetchUpdate to null when the front
  // server gave up waiting.
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
    // The newest change point received. A service that gives out none is
    // followed without: then only the tree tells what a failure missed.
    let token = null;
    let live = false;
    const showLive = () => {
      if (live || this.stopped) return;
      live = true;
      this.listener.onStatus({ state: 'live' });
    };
    while (!this.stopped) {
      this.abort = new AbortController();
      const { signal } = this.abort;
      try {
        if (!haveTree) {
          const tree = await this.io.fetchAll(signal);
          this.listener.onDocument(tree.document);
          token = tree.token;
          haveTree = true;
          showLive();
        }
        const started = this.io.now();
        let settled = false;
        const update = this.io.fetchUpdate(token, signal)
          .catch((error) => (error instanceof ParseError ? RELOAD : Promise.reject(error)))
          .finally(() => { settled = true; });
        if (!live) this.io.sleep(HELD_MEANS_LIVE_MS).then(() => { if (!settled && !signal.aborted) showLive(); });
        const answer = await update;
        delay = 0;
        if (answer === RELOAD) {
          haveTree = false;
        } else if (answer === null) {
          if (this.io.now() - started < QUICKEST_QUIET_POLL_MS) await this.io.sleep(QUICKEST_QUIET_POLL_MS);
        } else {
          showLive();
          this.listener.onUpdate(answer.document);
          token = answer.token ?? token;
        }
      } catch (error) {
        this.abort.abort();
        if (this.stopped) break;
        if (token === null) haveTree = false;
        live = false;
        delay = nextDelay(delay);
        this.listener.onStatus({ state: 'offline', error, retryIn: delay });
        await this.io.sleep(delay);
        this.listener.onStatus({ state: 'connecting' });
      }
    }
  }
}
