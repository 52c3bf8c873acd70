// Firmware update panel: sends a file to the device or one of its accessories,
// showing the bytes going out, then follows the device's update status until
// the run ends. Polling the status is also what starts the update once the
// device has found the file valid.

import { ServiceError } from './app-api.js';
import { byteSize } from './byte-size.js';
import { h } from './dom.js';
import { nextDelay } from './follow.js';
import { UpdateRun } from './update-run.js';

export const POLL_MS = 400;

export class FirmwarePanel {
  // io: {uploadFirmware(id, file, onProgress), fetchUpdateStatus(), sleep(ms)}
  // onFinished() hears the end of every run, successful or not.
  constructor({ target, file, upload, sent, sentText, state, stateText }, io, onFinished) {
    Object.assign(this, { target, file, sent, sentText, state, stateText, io, onFinished });
    this.run = null;
    upload.addEventListener('click', () => this.upload());
  }

  // The device first, then its accessories, keeping the choice when it is
  // still connected.
  setTargets(info) {
    const chosen = this.target.value;
    const devices = Array.isArray(info.devices) ? info.devices : [];
    const option = (device, kind) => h('option', { value: device._id }, `${device._id} (${kind}${device.name ? `: ${device.name}` : ''})`);
    this.target.replaceChildren(option(info, 'this device'), ...devices.map((device) => option(device, 'accessory')));
    if ([...this.target.options].some((entry) => entry.value === chosen)) this.target.value = chosen;
  }

  say(text, outcome = 'working') {
    this.stateText.textContent = text;
    this.stateText.dataset.outcome = outcome;
  }

  async upload() {
    const file = this.file.files[0];
    if (!file || !this.target.value) {
      this.say(file ? 'Choose where the firmware goes.' : 'Choose a firmware file first.', 'failed');
      return;
    }
    const run = {};
    this.run = run; // a new upload leaves the run of an earlier one behind
    this.state.value = 0;
    this.showSent(0, file.size);
    this.say(`Sending ${file.name}…`);
    const before = await this.io.fetchUpdateStatus().then((answer) => answer.status, () => null);
    let total = file.size; // the form around the file adds a little
    try {
      await this.io.uploadFirmware(this.target.value, file, (sent, all) => {
        total = all;
        this.showSent(sent, all);
      });
    } catch (error) {
      if (this.run === run) this.say(`Upload failed: ${error.message}`, 'failed');
      return;
    }
    this.showSent(total, total);
    if (this.run !== run) return;
    this.say('Sent; waiting for the device to check the file…');
    const outcome = await this.follow(run, new UpdateRun(before));
    if (outcome) this.onFinished();
  }

  showSent(sent, total) {
    this.sent.max = Math.max(total, 1);
    this.sent.value = sent;
    this.sentText.textContent = `${byteSize(sent)} of ${byteSize(total)} sent`;
  }

  // Resolves to the run's outcome, or to null when a newer upload took over.
  async follow(run, progress) {
    let delay = 0;
    while (this.run === run) {
      let answer;
      try {
        answer = await this.io.fetchUpdateStatus();
        delay = 0;
      } catch (error) {
        if (error instanceof ServiceError) {
          this.say(`Update failed: ${error.message}`, 'failed');
          return 'failed';
        }
        // The device restarts into new firmware: keep asking.
        delay = nextDelay(delay);
        this.say(`Device not reachable (${error.message}), asking again…`);
        await this.io.sleep(delay);
        continue;
      }
      if (this.run !== run) break;
      const outcome = progress.see(answer.status);
      const percent = Math.min(Math.max(Number(answer.progress) || 0, 0), 100);
      this.state.value = outcome === 'success' ? 100 : percent;
      if (outcome === 'success') this.say(`Update finished: ${answer.status}`, 'success');
      else if (outcome === 'failed') this.say(`Update failed: ${answer.status}`, 'failed');
      else this.say(`Device state: ${answer.status}, ${percent} %`);
      if (outcome !== 'working') return outcome;
      await this.io.sleep(POLL_MS);
    }
    return null;
  }
}
