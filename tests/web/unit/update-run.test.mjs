import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { ServiceError } from '../../../web/js/app-api.js';
import { FirmwarePanel } from '../../../web/js/firmware-panel.js';
import { STALE_POLLS, UpdateRun } from '../../../web/js/update-run.js';

const outcomes = (run, statuses) => statuses.map((status) => run.see(status));

describe('reading an update run from the status route', () => {
  it('ends on a final state once the device has moved since the upload', () => {
    assert.deepEqual(outcomes(new UpdateRun('Success'), ['Success', 'CheckingFile', 'FileValid', 'Rebooting', 'Success']),
      ['working', 'working', 'working', 'working', 'success']);
    // The check may fall between two polls: a different final state is news.
    assert.deepEqual(outcomes(new UpdateRun('Success'), ['FileCorrupt']), ['failed']);
    assert.deepEqual(outcomes(new UpdateRun(null), ['NoFileSelected', 'InProgress', 'DeviceNotFound']), ['working', 'working', 'failed']);
  });

  it('believes a final state left from before the upload only after many polls', () => {
    const run = new UpdateRun('FileCorrupt');
    const seen = outcomes(run, Array(STALE_POLLS).fill('FileCorrupt'));
    assert.deepEqual(seen.slice(0, -1), Array(STALE_POLLS - 1).fill('working'));
    assert.equal(seen.at(-1), 'failed');
  });
});

// The panel's following part, with a scripted status route: each poll takes
// the next answer (an Error is thrown). Resolves to the outcome, every text
// the panel showed and the outcome it marked last.
async function follow(answers) {
  const said = [];
  const stateText = { dataset: {}, set textContent(text) { said.push(text); } };
  const io = {
    fetchUpdateStatus: async () => {
      const next = answers.shift();
      if (next instanceof Error) throw next;
      return next;
    },
    sleep: async () => {},
  };
  const panel = new FirmwarePanel({ upload: { addEventListener() {} }, state: {}, stateText }, io, () => {});
  const run = {};
  panel.run = run;
  const outcome = await panel.follow(run, new UpdateRun('Success'));
  return { outcome, said, marked: stateText.dataset.outcome };
}

describe('following an update in the panel', () => {
  it('keeps asking while the device restarts, and shows how the run ends', async () => {
    for (const [answers, outcome, said] of [
      [[{ status: 'Rebooting', progress: 0 }, new Error('HTTP 502'), new TypeError('Failed to fetch'), { status: 'Success', progress: 0 }],
        'success', ['Device state: Rebooting, 0 %', 'Device not reachable (HTTP 502), asking again…',
          'Device not reachable (Failed to fetch), asking again…', 'Update finished: Success']],
      [[{ status: 'FileCorrupt', progress: 0 }], 'failed', ['Update failed: FileCorrupt']],
      [[{ status: 'CheckingFile', progress: 0 }, new ServiceError('Could not start the update')],
        'failed', ['Device state: CheckingFile, 0 %', 'Update failed: Could not start the update']],
    ]) {
      assert.deepEqual(await follow(answers), { outcome, said, marked: outcome });
    }
  });
});
