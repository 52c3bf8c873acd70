// Reads the update status route during one run: whether it is still going,
// succeeded or failed.

const FAILURES = new Set(['FileNotFound', 'FileCorrupt', 'FileNotCompatible', 'CopyingFailed', 'RebootFailed',
  'Failed', 'DeviceNotFound']);

// After this many polls, a final state that was already there before the
// upload is believed: the device checked the file between two polls.
export const STALE_POLLS = 20;

export class UpdateRun {
  // before: the status the route gave just before the upload (null if none).
  // The device's own state is not reset by an upload, so until it moves, a
  // final state seen again may be the last run's.
  constructor(before) {
    this.before = before;
    this.moved = false;
    this.polls = 0;
  }

  // Takes one status answer; returns 'working', 'success' or 'failed'.
  see(status) {
    this.polls++;
    if (status !== this.before) this.moved = true;
    const outcome = status === 'Success' ? 'success' : FAILURES.has(status) ? 'failed' : 'working';
    return this.moved || this.polls >= STALE_POLLS ? outcome : 'working';
  }
}
