// Device panel: the device's identity, firmware and storage, and the
// accessories connected to it, read from the app's device route.

import { byteSize } from './byte-size.js';
import { h, tell } from './dom.js';

// One row per accessory; on a narrow screen each row stacks its cells under
// their column names (data-label).
function accessoryTable(devices) {
  const columns = [['Identity', '_id'], ['Name', 'name'], ['Firmware', 'firmwareversion']];
  return h('table', { className: 'stacked accessories' },
    h('thead', {}, h('tr', {}, columns.map(([title]) => h('th', { scope: 'col' }, title)))),
    h('tbody', {}, devices.map((device) => h('tr', {},
      columns.map(([title, key]) => h('td', { 'data-label': title, 'data-field': key }, String(device[key] ?? '')))))));
}

function storage(total, available) {
  // Both are unsigned 32-bit counts on the device and may have wrapped.
  const used = Math.max(total - available, 0);
  return [
    h('meter', { min: 0, max: Math.max(total, 1), value: used, 'aria-label': 'Storage used' }),
    h('span', { className: 'storage-text' }, `${byteSize(used)} used, ${byteSize(available)} free of ${byteSize(total)}`),
  ];
}

export class DevicePanel {
  // io: {fetchDeviceInfo()}; onInfo(info) hears every description read.
  constructor({ body, note, refreshButton }, io, onInfo) {
    this.body = body;
    this.note = note;
    this.io = io;
    this.onInfo = onInfo;
    refreshButton.addEventListener('click', () => this.refresh());
  }

  async refresh() {
    tell(this.note, 'Reading…');
    try {
      const info = await this.io.fetchDeviceInfo();
      this.show(info);
      tell(this.note, '');
      this.onInfo(info);
    } catch (error) {
      tell(this.note, `Device information not available: ${error.message}`, true);
    }
  }

  show(info) {
    const fact = (title, key, ...content) => [h('dt', {}, title), h('dd', { 'data-field': key }, ...content)];
    const devices = Array.isArray(info.devices) ? info.devices : [];
    this.body.replaceChildren(
      h('dl', { className: 'device-facts' },
        fact('Identity', '_id', String(info._id)),
        fact('Name', 'name', String(info.name ?? '')),
        fact('Firmware', 'firmwareversion', String(info.firmwareversion ?? '')),
        fact('Storage', 'storage', ...storage(Number(info.space_total) || 0, Number(info.space_available) || 0))),
      h('h3', {}, 'Accessories'),
      devices.length ? accessoryTable(devices) : h('p', { className: 'note' }, 'None connected.'));
  }
}
