// The editor of one described value (a variable or a structure field): a
// drop-down for enumerations and booleans, a text field otherwise. A change is
// written at once; the result, or why it was not sent, shows beside it.

import { flash, h, pathOf } from './dom.js';
import { kindOf, prepareInput } from './values.js';

// A write the service accepted but that brought no change back within this
// time was dropped by the device (for example a text its setter rejects).
const CONFIRM_MS = 3000;

export class ValueEditor {
  // writer: {write(target, text) -> Promise<error text or ''>}; without one the
  // value is shown read-only.
  constructor(desc, target, writer, readOnlyReason = '') {
    this.desc = desc;
    this.target = target;
    this.writer = writer;
    this.kind = kindOf(desc);
    this.note = h('span', { className: 'note', role: 'status' });
    this.control = writer ? this.makeControl(readOnlyReason) : h('span', { className: 'readonly' });
    this.control.dataset.path = pathOf(target);
    if (readOnlyReason) this.control.title = readOnlyReason;
    this.element = h('span', { className: 'editor' }, this.control, this.note);
    this.show();
  }

  makeControl(readOnlyReason) {
    const control = this.kind === 'choice'
      ? h('select', { onchange: () => this.commit(control.value) })
      : h('input', {
        type: 'text',
        spellcheck: 'false',
        onchange: () => this.commit(control.value),
        onkeydown: (event) => {
          if (event.key === 'Escape') this.show(true);
        },
      });
    control.disabled = Boolean(readOnlyReason);
    return control;
  }

  // Replaces the shown value with the described one unless the user is in the
  // middle of typing into it. Returns false when the new value is of another
  // kind and needs another editor.
  update(desc) {
    if (kindOf(desc) !== this.kind) return false;
    const changed = desc.value !== this.desc.value;
    this.desc = desc;
    if (changed) {
      clearTimeout(this.confirmTimer);
      this.report('', false);
      this.show();
      flash(this.element);
    }
    return true;
  }

  // force: also over what the user is typing.
  show(force = false) {
    const { control, desc } = this;
    if (control.tagName === 'SPAN') {
      control.textContent = desc.value;
      return;
    }
    if (control.tagName === 'SELECT') {
      const choices = desc.textid.includes(desc.value) ? desc.textid : [...desc.textid, desc.value];
      if (control.options.length !== choices.length || [...control.options].some((o, i) => o.value !== choices[i])) {
        control.replaceChildren(...choices.map((choice) =>
          h('option', { value: choice, disabled: !desc.textid.includes(choice) }, choice)));
      }
    } else if (!force && document.activeElement === control && control.value !== this.shown) {
      return; // keep what the user is typing
    }
    control.value = desc.value;
    control.classList.remove('invalid');
    this.shown = desc.value;
  }

  async commit(typed) {
    clearTimeout(this.confirmTimer);
    this.shown = typed; // no longer being typed: what comes back may replace it
    const prepared = prepareInput(this.desc, typed);
    if (prepared.error) {
      this.control.classList.add('invalid');
      this.report(prepared.error, true);
      return;
    }
    this.control.classList.remove('invalid');
    this.report('Saving…', false);
    const before = this.desc.value;
    let error;
    try {
      error = await this.writer.write(this.target, prepared.text);
    } catch (failure) {
      error = failure.message;
    }
    if (error) {
      this.report(error, true);
      this.show(true);
      return;
    }
    this.report('Saved.', false);
    this.confirmTimer = setTimeout(() => {
      if (this.desc.value !== before) return;
      this.report('The device kept its value.', true);
      this.show(true);
    }, CONFIRM_MS);
  }

  report(text, failed) {
    this.note.textContent = text;
    this.note.classList.toggle('failed', failed);
  }
}
