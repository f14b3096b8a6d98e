// The recorder's own texts, as the API passes them on, in the page's
// language. The API keeps the originals; the page shows them on hover.

// Whole texts and the parts of the recorder's state text ("Ожидание,
// подготовлен к записи"), lower-cased for lookup.
const words = new Map([
  ['ожидание', 'waiting'],
  ['запись', 'recording to its memory'],
  ['подготовлен к записи', 'prepared for recording'],
  ['память заполнена', 'memory full'],
  ['остановлен по питанию', 'stopped: battery low'],
  ['прочитана', 'read out'],
  ['не прочитана', 'not read out yet'],
  ['dialog', 'not recording'],
  ['writing', 'recording to its memory'],
  ['станд.12отв.', 'standard 12 leads'],
  ['станд.12отв.(моно)', 'standard 12 leads (mono)'],
  ['своя 1 эл', 'own, 1 electrode'],
  ['своя 3x5 эл', 'own, 3×5 electrodes'],
  ['своя 3x7 эл', 'own, 3×7 electrodes'],
  ['ортог.', 'orthogonal'],
  ['неб', 'Nehb'],
  ['manual 16 отв', 'manual, 16 leads'],
  ['manual 24 отв', 'manual, 24 leads'],
]);

// The page's words for the service's error codes.
const errors = new Map([
  ['WRONG_FRAME_FORMAT', 'the recorder gave an answer of the wrong form'],
  ['TIMEOUT', 'the recorder did not answer in time'],
  ['DEVICE_DISCONNECTED', 'no recorder connected'],
  ['BAD_DATA', 'refused'],
  ['NOT_EXIST', 'not available on this recorder'],
  ['BUSY', 'the recorder is busy; try again'],
  ['NO_SERVICE', 'the service cannot be reached'],
  ['RECORDING_RUNNING', 'a recording is being saved already'],
  ['NO_RECORDING', 'no recording is being saved'],
  ['NO_SIGNALS', 'no live signals to save'],
  ['FILE_ERROR', 'the file cannot be written'],
]);

// The English text of a recorder text; the text itself when it has none.
export function translate(text) {
  if (typeof text !== 'string' || !text) return text;
  const whole = words.get(text.trim().toLowerCase());
  if (whole) return whole;
  const parts = text.split(',').map((p) => p.trim()).filter(Boolean);
  if (parts.length > 1 && parts.every((p) => words.has(p.toLowerCase()))) {
    const out = parts.map((p) => words.get(p.toLowerCase())).join(', ');
    return out.charAt(0).toUpperCase() + out.slice(1);
  }
  return text;
}

// Puts the translation into `el` and the original into its hover text when
// they differ.
export function showTranslated(el, text) {
  const shown = translate(text);
  el.textContent = typeof shown === 'string' && shown ? shown.charAt(0).toUpperCase() + shown.slice(1) : String(shown ?? '—');
  if (shown !== text && typeof text === 'string') el.title = `Recorder's text: ${text}`;
  else el.removeAttribute('title');
}

// A failed answer in words: "No patient cable attached" where the cable
// commands fail for want of a cable, the service's text where it gave one.
export function errorWords(answer, { cableCommand = false, cablePresent = null } = {}) {
  if (!answer || answer.status === 'ok') return '';
  const code = answer.errorcode || 'error';
  if (cableCommand && cablePresent === false && ['WRONG_FRAME_FORMAT', 'TIMEOUT', 'BAD_DATA'].includes(code)) {
    return 'No patient cable attached';
  }
  const words = errors.get(code) || code;
  return answer.errortext ? `${answer.errortext}` : words.charAt(0).toUpperCase() + words.slice(1);
}

// One size unit for the whole page: bytes in KiB/MiB with one decimal.
export function formatSize(n) {
  if (!Number.isFinite(n)) return '?';
  if (n < 1024) return `${n} B`;
  if (n < 1024 * 1024) return `${(n / 1024).toFixed(1)} KiB`;
  if (n < 1024 * 1024 * 1024) return `${(n / 1024 / 1024).toFixed(1)} MiB`;
  return `${(n / 1024 / 1024 / 1024).toFixed(1)} GiB`;
}
