// Commands that change the recorder's settings, calibration, cable or
// memory, or that restart it: offered only in service mode, each sent after a
// confirmation that says what it changes. Everyday commands (reading,
// setting the clock, the examination, recordings) are not among them.

const effects = new Map([
  ['Restart', 'restarts the recorder: the live signals stop until it is back, and a recording to its memory ends'],
  ['CustomByteCommand', 'sends your bytes to the recorder as they are: they may change any setting or its memory'],
  ['WriteCableInfo', "overwrites the patient cable's stored data (version, regime, type, number, setup counter)"],
  ['WriteCableSetupCounter', "overwrites the patient cable's setup counter"],
  ['WriteExternAccDefaultCalibration', "replaces the accelerometer's calibration with the factory default"],
  ['WriteEcgMode', "changes the recorder's ECG mode: the number of leads it streams and records"],
  ['SetProgId', "changes the recorder's program number"],
  ['SetPel', 'switches the recorder\'s pel output'],
  ['TurnVent', "switches the recorder's valve"],
  ['TurnPump', "switches the recorder's pump"],
]);

// Described simple commands of the recorder that write: by name.
const writing = /^(write|set|save|clear|erase|reset|restart|format|turn)/i;
const everyday = new Set([
  'SetTime', 'SetExaminationInfo', 'BeginWriting', 'StopWriting', 'StartReceiveFlashData',
  'StartSignalRecording', 'StopSignalRecording',
]);

// What a command changes; empty for an everyday command.
export function effectOf(name) {
  if (effects.has(name)) return effects.get(name);
  if (everyday.has(name)) return '';
  if (writing.test(name) || (/eeprom|calibration/i.test(name) && !/^(read|get)/i.test(name))) {
    return `${name} writes to the recorder; what it changes is described in the recorder's protocol`;
  }
  return '';
}

export const isServiceCommand = (name) => effectOf(name) !== '';
