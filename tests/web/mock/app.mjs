// The companion app's routes (/zelapp/v1) for the mock service: the device
// description, update uploads with a run that walks the states the device's
// update processes report, and the three file folders, kept in memory.

const STEP_MS = 300;
const ACCESSORY_PARTS = 2;
const FOLDERS = ['lenstables', 'focusrings', 'setups'];

const device = {
  _id: 'B1-1234', name: 'Hand unit', serialnumber: '1234', firmwareversion: '4.2.0',
  space_total: 3_900_000_000, space_available: 2_700_000_000,
  devices: [
    { _id: 'LENS-77', name: 'LENS', serialnumber: '77', firmwareversion: '2.1' },
    { _id: 'MOTOR-12', name: 'MOTOR', serialnumber: '12', firmwareversion: '1.0.3' },
  ],
};

const files = new Map(FOLDERS.map((folder) => [folder, new Map()]));
files.get('lenstables').set('Standard-50mm.tab', Buffer.from('focus 0.45 1 2 5 inf\n'));
files.get('setups').set('studio.set', Buffer.from('{"speed": 3}\n'));

// One run per target, as on the device: the state, progress and the steps to come.
const host = { state: 'NoFileSelected', progress: 0, steps: [] };
const accessory = { state: 'NoFileSelected', progress: 0, steps: [] };
let hostLast = false; // the status reports the target uploaded to last

setInterval(() => {
  for (const run of [host, accessory]) run.steps.shift()?.();
}, STEP_MS);

function check(run, content) {
  const corrupt = content.length === 0 || content.subarray(0, 7).toString() === 'CORRUPT';
  run.steps = [() => { run.state = 'CheckingFile'; }, () => { run.state = corrupt ? 'FileCorrupt' : 'FileValid'; }];
}

function start(run) {
  run.state = run === host ? 'Rebooting' : 'InProgress';
  run.progress = 0;
  if (run === host) {
    run.steps = [() => { run.state = 'Success'; }];
    return;
  }
  run.steps = [];
  for (let step = 1; step <= 4 * ACCESSORY_PARTS; step++) run.steps.push(() => { run.progress = (step * 100) / (4 * ACCESSORY_PARTS); });
  run.steps.push(() => { run.state = 'Success'; });
}

// The form's fields by name; each value a Buffer.
function formFields(contentType, body) {
  const boundary = /boundary=(?:"([^"]+)"|([^;]+))/.exec(contentType ?? '');
  if (!contentType?.startsWith('multipart/form-data') || !boundary) return null;
  const fields = new Map();
  const delimiter = Buffer.from(`--${boundary[1] ?? boundary[2]}`);
  let at = body.indexOf(delimiter);
  while (at >= 0) {
    const next = body.indexOf(delimiter, at + delimiter.length);
    if (next < 0) break;
    const part = body.subarray(at + delimiter.length + 2, next - 2); // after CR LF, before CR LF
    const headEnd = part.indexOf('\r\n\r\n');
    const name = /name="([^"]*)"/.exec(part.subarray(0, headEnd).toString());
    if (headEnd >= 0 && name) fields.set(name[1], part.subarray(headEnd + 4));
    at = next;
  }
  return fields;
}

const result = (text) => `{"result": "${text}" }`;

function upload(headers, body) {
  const fields = formFields(headers['content-type'], body);
  if (!fields) return result('Invalid content type');
  const id = fields.get('deviceid')?.toString();
  const content = fields.get('file');
  if (id === undefined || content === undefined) return result("'deviceid' and 'file' are mandatory, but at least one is missing.");
  if (!id.includes('-')) return result("'deviceid' has to be in the form DEVICE-SERIAL.");
  hostLast = id === device._id;
  const run = hostLast ? host : accessory;
  if (!hostLast) Object.assign(run, { state: 'NoFileSelected', progress: 0 });
  check(run, content);
  return `{"taskid": "${id}" }`;
}

function status() {
  const run = hostLast ? host : accessory;
  if (run.state === 'FileValid') start(run);
  return `{"status": "${run.state}", "progress": ${Math.round(run.progress)} }`;
}

const PLAIN_NAME = /^(?!\.{1,2}$)[^/]+$/;

function file(folder, name, method, body) {
  const stored = files.get(folder);
  const known = PLAIN_NAME.test(name) && stored.has(name);
  switch (method) {
    case 'GET': return known ? stored.get(name) : result('No such file');
    case 'PUT':
      if (!PLAIN_NAME.test(name)) return `${result('Open error')}\r\n`;
      stored.set(name, body);
      return result('Success');
    case 'DELETE':
      if (!known) return result('No such file');
      stored.delete(name);
      return result('Success');
    default: return result('Unknown request');
  }
}

const listText = (folder) => {
  const names = [...files.get(folder).keys()];
  return names.length ? `[\r\n${names.map((name) => JSON.stringify(name)).join(',\r\n')}\r\n]` : '[]';
};

const deviceText = () => {
  const { devices, ...own } = device;
  return `${JSON.stringify({ ...own, devices }, null, 2).replaceAll('\n', '\r\n')}\r\n`;
};

// path: what follows /zelapp/v1. Resolves to the answer's body (text or bytes).
export function serveApp(path, method, headers, body) {
  if (path === '/device/info') return deviceText();
  if (path === '/device/update') return upload(headers, body);
  if (path.startsWith('/device/status')) return status();
  const [, folder, route, name] = /^\/([a-z]+)\/(list|file\/)(.*)$/s.exec(path) ?? [];
  if (files.has(folder) && route === 'list' && name === '') return listText(folder);
  if (files.has(folder) && route === 'file/') {
    let plain;
    try {
      plain = decodeURIComponent(name);
    } catch {
      plain = ''; // a broken escape names no file
    }
    return file(folder, plain, method, body);
  }
  return result('Unknown request');
}

// Where the mock keeps a file, for tests that look at the device's side.
export const storedFile = (folder, name) => files.get(folder)?.get(name);
