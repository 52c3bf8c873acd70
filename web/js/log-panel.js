// Kernel-log panel: reads the log on demand, or follows it while "Follow" is
// ticked (the service holds such a request until new text comes in).

import { fetchLog } from './api.js';
import { afterLogAnswer, LogMarkup, splitLogAnswer } from './log-text.js';
import { nextDelay } from './follow.js';

// An on-demand read of a log that has no new text would be held; give up
// waiting after this long.
const ON_DEMAND_WAIT_MS = 1500;

export class LogPanel {
  constructor({ output, refreshButton, followBox, note }) {
    this.output = output;
    this.note = note;
    this.followBox = followBox;
    this.offset = 0;
    this.busy = false;
    this.clear();
    refreshButton.addEventListener('click', () => this.refresh());
    followBox.addEventListener('change', () => {
      refreshButton.disabled = followBox.checked; // following reads everything new already
      if (followBox.checked) this.follow();
      else this.waiting?.abort();
    });
  }

  clear() {
    this.output.replaceChildren();
    this.open = [this.output]; // the spans still open, innermost last
    this.decoder = new TextDecoder();
    this.markup = new LogMarkup();
  }

  // The service behind the page went away: its next log is a new text.
  forget() {
    this.offset = 0;
  }

  async refresh() {
    if (this.busy) return;
    this.busy = true;
    this.note.textContent = 'Reading…';
    try {
      const grew = await this.read(ON_DEMAND_WAIT_MS);
      this.note.textContent = grew ? '' : 'No new lines.';
    } catch (error) {
      this.note.textContent = `Log not available: ${error.message}`;
    } finally {
      this.busy = false;
    }
  }

  async follow() {
    if (this.following) return; // the loop of an earlier tick is still running
    this.following = true;
    let delay = 0;
    while (this.followBox.checked) {
      try {
        await this.read(0);
        this.note.textContent = 'Following.';
        delay = 0;
      } catch (error) {
        if (!this.followBox.checked) break;
        delay = nextDelay(delay);
        this.note.textContent = `Log not available (${error.message}), retrying.`;
        await new Promise((resolve) => setTimeout(resolve, delay));
      }
    }
    this.following = false;
    this.note.textContent = '';
  }

  // Reads what is new; with a wait limit, a held request is given up after it.
  // Resolves to whether text came.
  async read(waitLimit) {
    this.waiting = new AbortController();
    const timer = waitLimit ? setTimeout(() => this.waiting.abort(), waitLimit) : 0;
    let bytes;
    try {
      bytes = await fetchLog(this.offset, this.waiting.signal);
    } catch (error) {
      if (error.name === 'AbortError') return false;
      throw error;
    } finally {
      clearTimeout(timer);
    }
    const { length, body } = splitLogAnswer(bytes);
    const next = afterLogAnswer(this.offset, length, body.length);
    if (next.restart) this.clear();
    this.offset = next.offset;
    this.show(this.decoder.decode(body, { stream: true }));
    return body.length > 0;
  }

  show(html) {
    const atBottom = this.output.scrollTop + this.output.clientHeight >= this.output.scrollHeight - 4;
    for (const token of this.markup.feed(html)) {
      const innermost = this.open[this.open.length - 1];
      if (token.text !== undefined) innermost.append(token.text);
      else if (token.close) {
        if (this.open.length > 1) this.open.pop();
      } else {
        const span = document.createElement('span');
        // Through the style object: the page's content policy takes no style attribute.
        if (token.open) span.style.cssText = token.open;
        innermost.append(span);
        this.open.push(span);
      }
    }
    if (atBottom) this.output.scrollTop = this.output.scrollHeight;
  }
}
