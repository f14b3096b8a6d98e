// The page's pure helpers: byte text parsing and request skeletons built
// from the command descriptions that GetCmdList returns.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { parseByteText, templateFor } from '../../web/api.js';

test('byte text becomes the byte list of a raw command', () => {
  const cases = [
    ['7E 01 00 05', ['0x7e', '0x01', '0x00', '0x05']],
    ['0x7E,0x1;ff', ['0x7e', '0x01', '0xff']],
    ['  a  ', ['0x0a']],
    ['', []],
    ['100', null],      // more than one byte
    ['0xG1', null],
    ['7E zz', null],
  ];
  for (const [text, want] of cases) assert.deepEqual(parseByteText(text), want, text);
});

test('request skeletons follow the described data', () => {
  const cases = [
    [{}, {}],
    [{ Year: 'int', Rate: 'float', On: 'bool', Name: 'string' }, { Year: 0, Rate: 0, On: false, Name: '' }],
    [{ CableInfo: { Type: 'int', Number: 'int' } }, { CableInfo: { Type: 0, Number: 0 } }],
    [{ Uid: 'array(3)', __Uid_items: 'string' }, { Uid: ['', '', ''] }],
    [{ Points: 'array', __Points_items: { X: 'int' } }, { Points: [] }],
    [{ Odd: 'unknown' }, { Odd: null }],
  ];
  for (const [desc, want] of cases) assert.deepEqual(templateFor(desc), want, JSON.stringify(desc));
});
