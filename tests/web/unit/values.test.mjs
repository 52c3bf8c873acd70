import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { byteSize } from '../../../web/js/byte-size.js';
import { kindOf, limitsLabel, prepareInput, typeLabel } from '../../../web/js/values.js';

const int = { max: '255', min: '0', type: 'int', value: '1' };
const float = { max: '1', min: '-1', type: 'float', value: '0.000000' };
const buffer = { max: '4', min: '0', type: 'string', value: '00000000' };
const text = { max: '0', min: '0', type: 'string', value: '' };
const choice = { value: 'Present', type: 'MotorStatus', textid: ['Unknown', 'Present'] };

describe('kinds of values', () => {
  it('tells descriptions, structures, lists and failures apart', () => {
    const bool = { value: 'true', type: 'bool', textid: ['false', 'true'] };
    assert.deepEqual([int, choice, bool, text, { CalActive: choice, ActPosition: int }, [{ a: int }], { ERROR: 'x' }].map(kindOf),
      ['int', 'choice', 'choice', 'text', 'struct', 'list', 'error']);
  });

  it('labels buffers apart from strings', () => {
    assert.deepEqual([buffer, text, int].map((desc) => [typeLabel(desc), limitsLabel(desc)]),
      [['buffer', '4 bytes, hex'], ['string', ''], ['int', '0 … 255']]);
  });

  it('counts bytes in the unit people read them in', () => {
    assert.deepEqual([999, 1000, 8_388_608, 12_345_678_901, 2e16].map(byteSize), ['999 bytes', '1.0 kB', '8.4 MB', '12 GB', '20000 TB']);
  });
});

describe('typed input', () => {
  it('refuses what the value cannot hold', () => {
    for (const [desc, typed] of [[int, '256'], [int, '-1'], [int, '12abc'], [int, ''], [int, '1.5'],
      [float, '1.01'], [float, 'abc'], [float, '1e'], [buffer, '0A0'], [buffer, '0G'], [buffer, '0102030405'],
      [choice, 'present'], [{ ERROR: 'x' }, '1']]) {
      assert.ok(prepareInput(desc, typed).error, `${JSON.stringify(typed)} for ${JSON.stringify(desc)}`);
    }
  });

  it('sends integers in plain decimal, hexadecimal input included, and other values as typed', () => {
    for (const [desc, typed, sent] of [[int, ' 0x1F ', '31'], [int, '017', '17'], [{ ...int, min: '-10' }, '-0x0a', '-10'],
      [text, '  spaced  ', '  spaced  '], [float, '-1', '-1'], [float, '.5e0', '.5e0'], [buffer, '0a0B', '0a0B'],
      [choice, 'Unknown', 'Unknown']]) {
      assert.deepEqual(prepareInput(desc, typed), { text: sent }, `${JSON.stringify(typed)} for ${JSON.stringify(desc)}`);
    }
  });
});
