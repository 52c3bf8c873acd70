// Screen panel: shows a fresh capture of the device's display on demand.

import { screenUrl } from './api.js';

export class ScreenPanel {
  constructor({ image, button, note }) {
    this.image = image;
    this.note = note;
    button.addEventListener('click', () => this.capture());
    image.addEventListener('load', () => {
      this.note.textContent = `Captured ${new Date().toLocaleTimeString()}, ${image.naturalWidth}×${image.naturalHeight}`;
    });
    image.addEventListener('error', () => {
      this.note.textContent = 'The capture failed.';
    });
  }

  capture() {
    this.note.textContent = 'Capturing…';
    this.image.src = screenUrl();
  }
}
