// Wires the page together: the variable groups follow the service, edits go
// out through set.cgi, the Trends panel draws the pinned numbers from the
// same changes, the log and screen panels read on demand, and the console
// panels work the app's routes.

import { fetchAll, fetchUpdate, postSet } from './api.js';
import * as app from './app-api.js';
import { DevicePanel } from './device-panel.js';
import { FilesPanel } from './files-panel.js';
import { FirmwarePanel } from './firmware-panel.js';
import { Follower } from './follow.js';
import { MemoryGroups } from './groups.js';
import { LogPanel } from './log-panel.js';
import { ScreenPanel } from './screen-panel.js';
import { setBody } from './set-body.js';
import { Store } from './store.js';
import { pick } from './trend-store.js';
import { TrendsPanel } from './trends-panel.js';

const $ = (id) => document.getElementById(id);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

const store = new Store();
const writer = { write: (target, text) => postSet(setBody(target, text)) };
const trends = new TrendsPanel(
  { chart: $('trends-chart'), span: $('trends-span'), csv: $('trends-csv'), note: $('trends-note') },
  (target) => pick(store.get(target.memory, target.variable), target), localStorage);
const groups = new MemoryGroups($('memories'), store, writer, trends);
const status = $('status');
const notices = $('notices');

const logPanel = new LogPanel({
  output: $('log-output'), refreshButton: $('log-refresh'), followBox: $('log-follow'), note: $('log-note'),
});
logPanel.refresh();
new ScreenPanel({ image: $('screen-image'), button: $('screen-capture'), note: $('screen-note') });

const firmwarePanel = new FirmwarePanel({
  target: $('firmware-target'), file: $('firmware-file'), upload: $('firmware-upload'),
  sent: $('firmware-sent'), sentText: $('firmware-sent-text'), state: $('firmware-state'), stateText: $('firmware-status'),
}, { ...app, sleep }, () => devicePanel.refresh());
const devicePanel = new DevicePanel({ body: $('device-body'), note: $('device-note'), refreshButton: $('device-refresh') },
  app, (info) => firmwarePanel.setTargets(info));
devicePanel.refresh();
new FilesPanel({
  folder: $('files-folder'), list: $('files-list'), listNote: $('files-note'), add: $('files-add'), addNote: $('files-add-note'),
}, { ...app, confirm: (question) => window.confirm(question) }).show();

$('filter').addEventListener('input', (event) => groups.setFilter(event.target.value));

function setStatus(state, text) {
  status.dataset.state = state;
  status.textContent = text;
}

function showErrors(errors) {
  notices.replaceChildren(...errors.map((error) => Object.assign(document.createElement('li'), { textContent: error })));
}

const follower = new Follower(
  {
    fetchAll,
    fetchUpdate,
    sleep,
    now: () => Date.now(),
  },
  {
    onDocument(tree) {
      const changes = store.load(tree);
      if (changes === null) groups.rebuild();
      else groups.show(changes);
      $('variable-count').textContent = [...store.memories.values()].reduce((sum, vars) => sum + vars.size, 0);
      trends.loaded();
    },
    onUpdate(answer) {
      groups.show(store.apply(answer));
      trends.changed();
      showErrors(Array.isArray(answer.errors) ? answer.errors.map(String) : []);
      $('last-change').textContent = new Date().toLocaleTimeString();
    },
    onStatus({ state, error, retryIn }) {
      if (state === 'live') setStatus('live', 'Live');
      else if (state === 'connecting') setStatus('connecting', 'Connecting…');
      else {
        logPanel.forget();
        trends.disconnected();
        setStatus('offline', `Service unreachable (${error.message}); retrying in ${(retryIn / 1000).toFixed(1)} s`);
      }
    },
  },
);
setStatus('connecting', 'Connecting…');
follower.run();
