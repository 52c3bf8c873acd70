// Byte counts as people read them.

const UNITS = ['bytes', 'kB', 'MB', 'GB', 'TB'];

export function byteSize(count) {
  let value = count;
  let unit = 0;
  while (value >= 1000 && unit < UNITS.length - 1) {
    value /= 1000;
    unit++;
  }
  return unit === 0 ? `${value} bytes` : `${value.toFixed(value < 10 ? 1 : 0)} ${UNITS[unit]}`;
}
