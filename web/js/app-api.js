// The companion app's routes (/zelapp/v1) as the page's console uses them.
// Every answer is JSON; a failure is an object whose `result` names it.

import { HttpError } from './api.js';
import { parseDocument } from './tolerant-json.js';

const BASE = '/zelapp/v1/';

export class ServiceError extends Error {}

async function answer(path, options = {}) {
  const response = await fetch(BASE + path, { cache: 'no-store', ...options });
  if (!response.ok) throw new HttpError(response.status);
  return parseDocument(await response.text());
}

// Throws the service's failure text when the answer is one.
function expectKey(key, document) {
  if (document && typeof document === 'object' && key in document) return document;
  throw new ServiceError(document?.result ?? 'Unexpected answer');
}

export async function fetchDeviceInfo() {
  return expectKey('_id', await answer('device/info'));
}

// Resolves to {status, progress}.
export async function fetchUpdateStatus() {
  return expectKey('status', await answer('device/status'));
}

export async function listFiles(folder) {
  const list = await answer(`${folder}/list`);
  if (!Array.isArray(list)) throw new ServiceError(list?.result ?? 'Unexpected answer');
  return list.map(String);
}

export function fileUrl(folder, name) {
  return `${BASE}${folder}/file/${encodeURIComponent(name)}`;
}

async function fileRequest(method, folder, name, body) {
  const response = await fetch(fileUrl(folder, name), { method, body, cache: 'no-store' });
  if (!response.ok) throw new HttpError(response.status);
  const { result } = parseDocument(await response.text());
  if (result !== 'Success') throw new ServiceError(result ?? 'Unexpected answer');
}

export const putFile = (folder, name, file) => fileRequest('PUT', folder, name, file);
export const deleteFile = (folder, name) => fileRequest('DELETE', folder, name);

// Posts the update form; fetch cannot report upload progress, XMLHttpRequest
// can. onProgress(sent, total) follows the bytes going out. Resolves to the
// task id the service took the file under.
export function uploadFirmware(deviceId, file, onProgress) {
  return new Promise((resolve, reject) => {
    const request = new XMLHttpRequest();
    request.open('POST', `${BASE}device/update`);
    request.upload.addEventListener('progress', (event) => {
      if (event.lengthComputable) onProgress(event.loaded, event.total);
    });
    request.addEventListener('load', () => {
      if (request.status < 200 || request.status >= 300) {
        reject(new HttpError(request.status));
        return;
      }
      try {
        resolve(expectKey('taskid', parseDocument(request.responseText)).taskid);
      } catch (error) {
        reject(error);
      }
    });
    request.addEventListener('error', () => reject(new Error('the upload broke off')));
    const form = new FormData();
    form.append('deviceid', deviceId);
    form.append('file', file);
    request.send(form);
  });
}
