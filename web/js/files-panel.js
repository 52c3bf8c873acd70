// Files panel: the lens tables, focus rings and setups stored on the device;
// each can be downloaded or deleted, and a chosen file is added (or replaces
// the one of the same name).

import { h, tell } from './dom.js';

export class FilesPanel {
  // io: {listFiles(folder), putFile(folder, name, file), deleteFile(folder, name),
  //      fileUrl(folder, name), confirm(question)}
  constructor({ folder, list, listNote, add, addNote }, io) {
    Object.assign(this, { folder, list, listNote, add, addNote, io });
    this.shown = 0; // counts list reads, so that only the latest one is shown
    folder.addEventListener('change', () => this.show());
    add.addEventListener('change', () => this.addChosen());
  }

  async show() {
    const read = ++this.shown;
    const folder = this.folder.value;
    tell(this.listNote, 'Reading…');
    try {
      const names = await this.io.listFiles(folder);
      if (read !== this.shown) return;
      this.list.replaceChildren(...(names.length ? names.map((name) => this.row(folder, name))
        : [h('li', { className: 'note' }, 'No files.')]));
      tell(this.listNote, '');
    } catch (error) {
      if (read === this.shown) tell(this.listNote, `The list could not be read: ${error.message}`, true);
    }
  }

  row(folder, name) {
    const note = h('span', { className: 'note', role: 'status' });
    return h('li', { 'data-name': name },
      h('a', { href: this.io.fileUrl(folder, name), download: name }, name),
      h('button', { type: 'button', 'aria-label': `Delete ${name}`, onclick: () => this.remove(folder, name, note) }, 'Delete'),
      note);
  }

  async addChosen() {
    const file = this.add.files[0];
    if (!file) return;
    tell(this.addNote, `Adding ${file.name}…`);
    try {
      await this.io.putFile(this.folder.value, file.name, file);
      tell(this.addNote, `Added ${file.name}.`);
      this.add.value = ''; // the same file can be chosen again
      await this.show();
    } catch (error) {
      tell(this.addNote, `${file.name} was not added: ${error.message}`, true);
    }
  }

  async remove(folder, name, note) {
    if (!this.io.confirm(`Delete ${name} from the device?`)) return;
    tell(note, 'Deleting…');
    try {
      await this.io.deleteFile(folder, name);
      await this.show();
    } catch (error) {
      tell(note, `Not deleted: ${error.message}`, true);
    }
  }
}
