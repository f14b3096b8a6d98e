// Which leads the ECG view shows, and how each is made from the recorder's
// ECG channels. With the standard set the recorder measures I, II and
// V1–V6; the other four limb leads follow from Einthoven's and Goldberger's
// relations. Other lead sets are shown as the recorder names them.

export const STANDARD_RECORDED = ['I', 'II', 'V1', 'V2', 'V3', 'V4', 'V5', 'V6'];
export const STANDARD_12 = ['I', 'II', 'III', 'aVR', 'aVL', 'aVF', 'V1', 'V2', 'V3', 'V4', 'V5', 'V6'];

// Each lead as [channel index, weight] terms over the recorded channels
// I (0) and II (1); the chest leads are their own channels.
const DERIVED = {
  I: [[0, 1]],
  II: [[1, 1]],
  III: [[1, 1], [0, -1]],
  aVR: [[0, -0.5], [1, -0.5]],
  aVL: [[0, 1], [1, -0.5]],
  aVF: [[1, 1], [0, -0.5]],
};

// The lead sets whose electrodes are their leads, by "LeadType". The
// service names a recorder's channels only when the set names all of them;
// on an eight-channel recorder these sets use the first channels.
const NAMED_SETS = {
  3: ['V4', 'Y', 'V6'], 4: ['V5', 'Y', 'V1'], 5: ['V4', 'Y', 'V6'], 15: ['V5M'], 16: ['X', 'Y', 'Z'],
  18: ['V5M'], 33: ['V4M', 'III', 'V6M'], 34: ['V5', 'Y', 'V1'],
};
const STANDARD_SETS = [1, 25, 30];

// The ECG channel names from "GetExaminationInfo": its Leads, else the
// names the lead set gives, else [] (not known).
export function ecgNamesFromExamination(info) {
  if (!info || !info.Known) return [];
  if (Array.isArray(info.Leads) && info.Leads.length) return info.Leads.map(String);
  if (STANDARD_SETS.includes(info.LeadType)) return STANDARD_RECORDED.slice();
  return NAMED_SETS[info.LeadType] ? NAMED_SETS[info.LeadType].slice() : [];
}

const stripPrefix = (name) => String(name ?? '').replace(/^ECG\s+/i, '').trim();
// "ECG 3" and "3" are a channel's number, not a lead's name.
const isNumbered = (name) => /^\d+$/.test(stripPrefix(name));

// names: the recorder's ECG channel names in order ([] when not known);
// count: the number of ECG channels the stream carries.
// Returns {leads: [{name, terms, derived}], standard, assumed, note}.
export function leadPlan(names, count) {
  const given = (names || []).map(stripPrefix);
  const known = given.length > 0 && !given.every((n) => isNumbered(n));
  const standard = known
    ? given.length === STANDARD_RECORDED.length && given.every((n, i) => n === STANDARD_RECORDED[i])
    : count === STANDARD_RECORDED.length;
  if (standard && count >= STANDARD_RECORDED.length) {
    const leads = STANDARD_12.map((name) => {
      if (DERIVED[name]) return { name, terms: DERIVED[name], derived: !['I', 'II'].includes(name) };
      return { name, terms: [[STANDARD_RECORDED.indexOf(name), 1]], derived: false };
    });
    return {
      leads, standard: true, assumed: !known,
      note: known ? 'standard 12 leads' : 'assumed: I, II, V1–V6',
    };
  }
  if (known) {
    // Only the channels the set names carry leads; the recorder's other
    // channels are idle in such a mode.
    const leads = given.slice(0, count).map((name, i) => ({ name, terms: [[i, 1]], derived: false }));
    return { leads, standard: false, assumed: false, note: `leads ${leads.map((l) => l.name).join(', ')}` };
  }
  const leads = Array.from({ length: count }, (_, i) => ({ name: `ECG ${i + 1}`, terms: [[i, 1]], derived: false }));
  return { leads, standard: false, assumed: false, note: 'lead set not known' };
}

// The names a channel list of "GetSignalRecordingState" gives the ECG
// channel ("ECG I" …), or [] when it names none.
export function ecgNamesFromLabels(channels) {
  const ecg = (channels || []).find((c) => c && /^ecg$/i.test(c.Name));
  return ecg && Array.isArray(ecg.Labels) ? ecg.Labels.map(stripPrefix) : [];
}

// The layouts clinical ECG software prints: rows of columns of leads, each
// column a later stretch of time, and for 3 × 4 a rhythm strip of II.
export function layoutRows(layout, leadNames) {
  const n = leadNames.length;
  if (n !== 12 || layout === '12x1') return { rows: leadNames.map((l) => [l]), rhythm: null };
  if (layout === '6x2') {
    return { rows: Array.from({ length: 6 }, (_, r) => [leadNames[r], leadNames[r + 6]]), rhythm: null };
  }
  return {
    rows: Array.from({ length: 3 }, (_, r) => [leadNames[r], leadNames[r + 3], leadNames[r + 6], leadNames[r + 9]]),
    rhythm: 'II',
  };
}
