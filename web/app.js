import { sendCommand, openStream, parseByteText, templateFor } from './api.js';
import { EcgView } from './ecg.js';
import { translate, showTranslated, errorWords, formatSize } from './texts.js';
import { effectOf, isServiceCommand } from './servicemode.js';
import { bindEcgControls } from './ecgcontrols.js';

const $ = (id) => document.getElementById(id);
const show = (el, obj) => { el.textContent = typeof obj === 'string' ? obj : JSON.stringify(obj, null, 2); };

const state = {
  connected: null, commands: null, lastAnswer: null, buttonPushes: 0, cablePresent: null, examination: null, serviceMode: false,
};

// ---------- views ----------
const tabs = [...document.querySelectorAll('[role=tab][data-view]')];
function selectView(tab, focus = false) {
  for (const t of tabs) {
    const on = t === tab;
    t.classList.toggle('active', on);
    t.setAttribute('aria-selected', String(on));
    t.tabIndex = on ? 0 : -1;
  }
  document.querySelectorAll('.view').forEach((v) => { v.hidden = v.id !== `view-${tab.dataset.view}`; });
  if (focus) tab.focus();
  if (tab.dataset.view === 'live') ecg.resize();
}
tabs.forEach((b, i) => {
  b.addEventListener('click', () => selectView(b));
  // Arrow keys move between the tabs, as a tab list does.
  b.addEventListener('keydown', (e) => {
    const step = { ArrowRight: 1, ArrowLeft: -1 }[e.key];
    if (step) {
      e.preventDefault();
      selectView(tabs[(i + step + tabs.length) % tabs.length], true);
    } else if (e.key === 'Home' || e.key === 'End') {
      e.preventDefault();
      selectView(tabs[e.key === 'Home' ? 0 : tabs.length - 1], true);
    }
  });
});

// Says something to screen readers once (results of actions out of view).
function announce(text) {
  $('announce').textContent = '';
  setTimeout(() => { $('announce').textContent = text; }, 50);
}

function setPill(id, label, st, words = st) {
  const el = $(id);
  el.textContent = `${label}: ${words}`;
  el.dataset.state = st;
}

// The patient cable: the state the page last learnt, from a read or an event.
function setCable(present) {
  state.cablePresent = present;
  if (present === null) setPill('cable-state', 'patient cable', 'unknown');
  else setPill('cable-state', 'patient cable', present ? 'connected' : 'disconnected', present ? 'attached' : 'not attached');
}

// ---------- errors ----------
function addError(kind, message) {
  const li = document.createElement('li');
  li.textContent = `${new Date().toLocaleTimeString()}  ${kind}: ${message}`;
  $('error-list').prepend(li);
  while ($('error-list').children.length > 50) $('error-list').lastChild.remove();
  $('errors').hidden = false;
}
$('clear-errors').addEventListener('click', () => { $('error-list').replaceChildren(); $('errors').hidden = true; });

// ---------- device status ----------
const fmt2 = (n) => String(n).padStart(2, '0');
let clockBase = null; // [device time in ms, performance.now() when read]

function answerText(a) {
  return a.status === 'ok' ? null : errorWords(a);
}

async function readClock() {
  const a = await sendCommand('GetTime');
  if (a.status === 'ok' && a.data) {
    const d = a.data;
    clockBase = [Date.UTC(d.Year, d.Month - 1, d.Day, d.Hours, d.Minutes, d.Seconds), performance.now()];
    tickClock();
  } else {
    clockBase = null;
    $('dev-clock').textContent = answerText(a);
    if (a.errorcode === 'DEVICE_DISCONNECTED') setConnected(false);
  }
  return a;
}

function tickClock() {
  if (!clockBase || !state.connected) return;
  const t = new Date(clockBase[0] + (performance.now() - clockBase[1]));
  $('dev-clock').textContent = `${t.getUTCFullYear()}-${fmt2(t.getUTCMonth() + 1)}-${fmt2(t.getUTCDate())} `
    + `${fmt2(t.getUTCHours())}:${fmt2(t.getUTCMinutes())}:${fmt2(t.getUTCSeconds())}`;
}
setInterval(tickClock, 1000);

async function readPower() {
  const a = await sendCommand('GetPower');
  $('dev-power').textContent = a.status === 'ok' ? `${a.data?.Power ?? '?'} mV` : answerText(a);
}

async function readWriting() {
  const a = await sendCommand('GetWritingState');
  if (a.status === 'ok') showTranslated($('dev-writing'), a.data?.WritingState ?? '?');
  else $('dev-writing').textContent = answerText(a);
  return a;
}

async function readDevInfo() {
  const a = await sendCommand('GetDevInfo');
  if (a.status === 'ok' && a.data) {
    $('dev-name').textContent = `${a.data.Name ?? ''} #${a.data.Number ?? '?'} (type ${a.data.Type ?? '?'}, hw ${a.data.HardVer ?? '?'}, sw ${a.data.SoftVer ?? '?'})`;
    const info = { ...a.data };
    if (typeof info.State === 'string' && translate(info.State) !== info.State) info.State = `${translate(info.State)} (${a.data.State})`;
    show($('devinfo'), info);
  } else {
    $('dev-name').textContent = answerText(a);
    show($('devinfo'), a);
  }
}

const offered = (name) => !state.commands || state.commands.has(name);

// Device commands are sent one after another: the recorder answers one at a
// time anyway. Optional reads are skipped when the service does not offer
// them, so probing does not fill the error list.
async function refreshAll() {
  const t = await readClock();
  if (t.errorcode === 'DEVICE_DISCONNECTED' || t.errorcode === 'NO_SERVICE') return;
  if (state.connected === null) setConnected(true);
  await loadCommands();
  const reads = [['GetDevInfo', readDevInfo, 'dev-name'], ['GetPower', readPower, 'dev-power'],
    ['GetWritingState', readWriting, 'dev-writing']];
  await readExamination();
  if (offered('ReadCableExist')) {
    // Cable events only report changes; read the present state once. An
    // event that came meanwhile is newer than this answer.
    const seen = cableEvents;
    const c = await sendCommand('ReadCableExist');
    if (c.status === 'ok' && typeof c.data?.IsExist === 'boolean' && seen === cableEvents) setCable(c.data.IsExist);
  }
  for (const [name, read, cell] of reads) {
    if (offered(name)) await read();
    else $(cell).textContent = 'not offered by this service';
  }
  await readRecordingState();
  await readEcgContext();
  loadFiles();
}
$('refresh-info').addEventListener('click', refreshAll);

function setConnected(on) {
  const changed = state.connected !== on;
  state.connected = on;
  setPill('dev-state', 'recorder', on ? 'connected' : 'disconnected');
  document.body.classList.toggle('offline', !on);
  if (!on) {
    clockBase = null;
    for (const id of ['dev-clock', 'dev-power', 'dev-writing', 'dev-name']) $(id).textContent = '—';
    setCable(null);
  }
  return changed;
}

// Battery and recording state change slowly; the clock runs locally between reads.
setInterval(() => {
  if (!state.connected) return;
  if (offered('GetPower')) readPower();
  if (offered('GetWritingState')) readWriting();
}, 30000);
setInterval(() => { if (state.connected) readClock(); }, 60000);

// ---------- event stream ----------
let cableEvents = 0;
function handleEvent(msg) {
  if (!msg || msg.type !== 'event') return;
  const items = Array.isArray(msg.data) ? msg.data : [msg.data];
  for (const ev of items) {
    if (!ev || typeof ev !== 'object') continue;
    switch (ev.type) {
      case 'deviceConnect':
        setConnected(true);
        ecg.reset();
        refreshAll();
        break;
      case 'deviceDisconnect':
        setConnected(false);
        ecg.signalLost();
        break;
      case 'cableConnect': cableEvents++; setCable(true); break;
      case 'cableDisconnect': cableEvents++; setCable(false); break;
      case 'examinationInfo': readExamination(); break;
      case 'buttonPush':
        state.buttonPushes++;
        $('buttons').textContent = `button pushes: ${state.buttonPushes} (last frame ${ev.data?.frameCounter ?? '?'})`;
        ecg.markButton();
        break;
      case 'error':
        addError(ev.errorType || 'error', ev.message || '');
        break;
      case 'signalRecording':
        recordingEnded(ev);
        break;
      case 'flashReadout': {
        // A finished memory read-out: offer the file for download.
        const link = $('readout-link');
        link.href = ev.url || '/flash/latest';
        link.textContent = `Download ${ev.file || 'read-out'} (${formatSize(ev.size)})`;
        link.hidden = false;
        loadFiles();
        break;
      }
      default:
        break;
    }
  }
}

const streams = { adc: false, event: false };
function streamState(kind, on) {
  streams[kind] = on;
  const st = streams.adc && streams.event ? 'open' : (streams.adc || streams.event ? 'partial' : 'closed');
  setPill('stream-state', 'live data', st);
  if (kind === 'event' && on) {
    refreshAll(); // events are edges: read the state we missed
    // The patient in force is the service's, recorder or not.
    if (state.connected !== true) readExamination();
  }
}

// ---------- live ECG ----------
const ecg = new EcgView($('view-live'), {
  onStats: ({ rate, channels, lost }) => {
    const gaps = channels.reduce((a, c) => a + c.gaps, 0);
    const text = lost ? '0 points/s (signal lost)' : `${Math.round(rate)} points/s${gaps ? `, ${gaps} gaps` : ''}`;
    if ($('rate').textContent !== text) $('rate').textContent = text;
  },
  onExamination: () => readEcgContext(),
});
bindEcgControls(ecg, { recorderText: () => $('dev-name').textContent });
$('pause').addEventListener('click', () => {
  ecg.setPaused(!ecg.paused);
  $('pause').textContent = ecg.paused ? 'Resume' : 'Pause';
});

openStream('adc', { binary: true, onMessage: (m) => ecg.handleMessage(m), onState: (on) => streamState('adc', on) });
openStream('event', { binary: true, onMessage: (m) => { ecg.handleEvent(m); handleEvent(m); }, onState: (on) => streamState('event', on) });

// ---------- command console ----------
async function loadCommands() {
  const a = await sendCommand('GetCmdList');
  if (a.status !== 'ok' || !Array.isArray(a.data)) return;
  state.commands = new Map(a.data.filter((d) => d && d.cmd).map((d) => [d.cmd, d]));
  fillCommandList();
  // Workflow buttons for commands this service does not offer say so up front.
  document.querySelectorAll('[data-cmd]').forEach((b) => {
    b.classList.toggle('missing', !state.commands.has(b.dataset.cmd));
    b.title = state.commands.has(b.dataset.cmd) ? '' : `${b.dataset.cmd} is not offered by this service`;
  });
  document.querySelectorAll('[data-needs]').forEach((c) => c.classList.toggle('missing', !state.commands.has(c.dataset.needs)));
}
$('reload-cmds').addEventListener('click', loadCommands);

// The console lists the everyday commands; service mode adds those that
// change the recorder.
function fillCommandList() {
  if (!state.commands) return;
  const sel = $('cmd-select');
  const current = sel.value;
  const names = [...state.commands.keys()].filter((n) => state.serviceMode || !isServiceCommand(n)).sort();
  sel.replaceChildren(...names.map((n) => new Option(isServiceCommand(n) ? `${n} ⚠` : n, n)));
  if (current && names.includes(current)) sel.value = current;
}

function setServiceMode(on) {
  state.serviceMode = on;
  $('service-mode').checked = on;
  document.body.classList.toggle('service-mode', on);
  document.querySelectorAll('.service-only').forEach((e) => { e.hidden = !on; });
  $('cmd-list-hint').textContent = on
    ? 'Service mode: commands marked ⚠ change the recorder; each asks for confirmation first.'
    : "Everyday commands; switch on service mode for those that change the recorder's settings.";
  fillCommandList();
  announce(on ? 'Service mode on' : 'Service mode off');
}
$('service-mode').addEventListener('change', (e) => setServiceMode(e.target.checked));

// An in-page question (a browser dialog would block the page and its
// streams). Resolves true for Yes; Escape or Cancel is no.
function confirmAction(title, text, yes = 'Yes') {
  const box = $('confirm-box');
  const before = document.activeElement;
  $('confirm-title').textContent = title;
  $('confirm-text').textContent = text;
  $('confirm-yes').textContent = yes;
  box.hidden = false;
  $('confirm-no').focus();
  return new Promise((resolve) => {
    const done = (answer) => {
      box.hidden = true;
      box.removeEventListener('keydown', onKey);
      $('confirm-yes').onclick = null;
      $('confirm-no').onclick = null;
      before?.focus?.();
      resolve(answer);
    };
    const onKey = (e) => {
      if (e.key === 'Escape') { e.preventDefault(); done(false); }
      if (e.key === 'Tab') { // focus stays in the question
        e.preventDefault();
        (document.activeElement === $('confirm-yes') ? $('confirm-no') : $('confirm-yes')).focus();
      }
    };
    box.addEventListener('keydown', onKey);
    $('confirm-yes').onclick = () => done(true);
    $('confirm-no').onclick = () => done(false);
  });
}

// A command that changes the recorder runs only in service mode and after
// the user confirmed what it changes.
async function allowed(name) {
  const effect = effectOf(name);
  if (!effect) return true;
  if (!state.serviceMode) return false;
  return confirmAction(`Run ${name}?`, `This ${effect}.`, `Run ${name}`);
}

$('cmd-select').addEventListener('change', () => {
  const d = state.commands?.get($('cmd-select').value);
  if (!d) return;
  $('cmd-name').textContent = d.cmd;
  const effect = effectOf(d.cmd);
  $('cmd-effect').hidden = !effect;
  $('cmd-effect').textContent = effect ? `⚠ Changes the recorder: this ${effect}.` : '';
  show($('cmd-data-desc'), d.data ?? {});
  show($('cmd-answer-desc'), d.answer ?? {});
  const tpl = templateFor(d.data);
  $('cmd-data').value = tpl && Object.keys(tpl).length ? JSON.stringify(tpl, null, 2) : '';
});

function showPending() {
  show($('cmd-answer'), '…');
  $('cmd-answer').dataset.status = 'pending';
}

function showAnswer(a) {
  state.lastAnswer = a;
  announce(a.status === 'ok' ? 'Answer: ok' : `Answer: ${errorWords(a)}`);
  show($('cmd-answer'), a);
  $('cmd-answer').dataset.status = a.status;
  const link = $('save-last');
  if (link.href.startsWith('blob:')) URL.revokeObjectURL(link.href);
  link.href = URL.createObjectURL(new Blob([JSON.stringify(a, null, 2)], { type: 'application/json' }));
  link.hidden = false;
}

$('cmd-send').addEventListener('click', async () => {
  const name = $('cmd-select').value;
  if (!name) return;
  const text = $('cmd-data').value.trim();
  let data;
  if (text) {
    try { data = JSON.parse(text); } catch (e) { $('cmd-data-error').textContent = `not JSON: ${e.message}`; return; }
  }
  $('cmd-data-error').textContent = '';
  if (!await allowed(name)) { $('cmd-data-error').textContent = state.serviceMode ? 'not sent' : 'needs service mode'; return; }
  showPending();
  showAnswer(await sendCommand(name, data));
});

$('raw-send').addEventListener('click', async () => {
  const bytes = parseByteText($('raw-bytes').value);
  if (!bytes || !bytes.length) { $('raw-error').textContent = 'bytes as hex, e.g. 7E 01 00 05'; return; }
  $('raw-error').textContent = '';
  if (!await allowed('CustomByteCommand')) { $('raw-error').textContent = 'not sent'; return; }
  showPending();
  showAnswer(await sendCommand('CustomByteCommand', bytes));
});

// ---------- workflows ----------
function localInputValue(d) {
  return `${d.getFullYear()}-${fmt2(d.getMonth() + 1)}-${fmt2(d.getDate())}T${fmt2(d.getHours())}:${fmt2(d.getMinutes())}:${fmt2(d.getSeconds())}`;
}
$('clock-value').value = localInputValue(new Date());

async function setClock(d) {
  show($('clock-result'), 'setting…');
  $('clock-result').dataset.status = 'pending';
  const a = await sendCommand('SetTime', {
    Year: d.getFullYear(), Month: d.getMonth() + 1, Day: d.getDate(),
    Hours: d.getHours(), Minutes: d.getMinutes(), Seconds: d.getSeconds(),
  });
  show($('clock-result'), answerText(a) ?? 'clock set');
  $('clock-result').dataset.status = a.status;
  if (a.status === 'ok') await readClock();
}
$('clock-now').addEventListener('click', () => setClock(new Date()));
$('clock-set').addEventListener('click', () => {
  const d = new Date($('clock-value').value);
  if (Number.isNaN(d.getTime())) { show($('clock-result'), 'enter a date and time'); return; }
  setClock(d);
});

// ---------- patient ----------
// The field of the form a refusal names ("Surname: ü cannot be stored …").
const formFields = ['PatientId', 'Surname', 'Name', 'Patronymic', 'BirthdayDate', 'Sex', 'StartTime', 'FileName', 'LeadType'];
function markField(field, message) {
  // "CableInfo.Type" is the form's "CableType", and so on.
  const name = field?.startsWith('CableInfo.') ? `Cable${field.slice(10)}` : field;
  for (const input of $('exam-form').querySelectorAll('[name]')) {
    const own = input.name === name || (name === 'CableInfo' && input.name.startsWith('Cable'));
    if (own) input.setAttribute('aria-invalid', 'true');
    else input.removeAttribute('aria-invalid');
    if (own) input.setAttribute('aria-describedby', 'exam-result');
    else input.removeAttribute('aria-describedby');
  }
  if (name) $('exam-form').querySelector(`[name="${name}"]`)?.focus();
  return message;
}

function examRequest() {
  const f = new FormData($('exam-form'));
  const num = (k) => Number(f.get(k) || 0);
  const text = (k) => String(f.get(k) ?? '').trim();
  return {
    PatientId: text('PatientId'), Name: text('Name'), Surname: text('Surname'),
    Patronymic: text('Patronymic'), BirthdayDate: text('BirthdayDate'), Sex: text('Sex'),
    StartTime: text('StartTime').replace('T', ' '), FileName: text('FileName'),
    LeadType: num('LeadType'),
    CableInfo: { Type: num('CableType'), Number: num('CableNumber'), SetupCounter: num('CableSetupCounter') },
  };
}

function setExamResult(text, status) {
  delete $('exam-result').dataset.field;
  show($('exam-result'), text);
  $('exam-result').dataset.status = status;
}

$('exam-send').addEventListener('click', async () => {
  const data = examRequest();
  markField(null);
  // A recording needs to say whose it is: an ID or a name at the least, and
  // a record without any asks first.
  const identified = data.PatientId || data.Surname || data.Name;
  const empty = !identified && !data.Patronymic && !data.BirthdayDate && !data.Sex;
  if (!identified) {
    if (!empty) {
      setExamResult(markField('PatientId', 'Patient ID or name needed: enter a patient ID, a surname or a name.'), 'error');
      return;
    }
    const go = await confirmAction('Write an empty patient record?',
      'No patient ID and no name are given: recordings from now on will not say whose they are.', 'Write empty record');
    if (!go) {
      setExamResult(markField('PatientId', 'Not written: enter a patient ID or a name.'), 'error');
      return;
    }
  }
  // Several recorder writes: say it is under way until the answer.
  setExamResult('writing…', 'pending');
  const a = await sendCommand('SetExaminationInfo', data);
  if (a.status === 'ok') {
    setExamResult('written', 'ok');
  } else {
    const field = /^([A-Za-z.]+):/.exec(a.errortext || '')?.[1];
    setExamResult(markField(formFields.includes(field) || field?.startsWith('Cable') ? field : null, errorWords(a)), 'error');
    if (field) $('exam-result').dataset.field = field;
  }
  // The lead set names the traces; the banner follows the service.
  if (a.status === 'ok') {
    readRecordingState().then(readEcgContext);
    readExamination();
  }
});

// The patient in force, as the service holds it: the same in every browser.
function patientName(x) {
  return [x.Surname, x.Name, x.Patronymic].filter(Boolean).join(' ');
}
function patientWords(x) {
  if (!x) return 'not known yet';
  if (!x.Known) return 'none written since the service started';
  const parts = [patientName(x) || 'no name'];
  parts.push(x.PatientId ? `ID ${x.PatientId}` : 'no ID');
  if (x.BirthdayDate) parts.push(`born ${x.BirthdayDate}`);
  if (x.Sex) parts.push(x.Sex === 'm' ? 'male' : 'female');
  if (x.LeadSet !== null && x.LeadSet !== undefined) parts.push(`leads: ${translate(x.LeadSet) || `set ${x.LeadType}`}`);
  return parts.join(' · ');
}
function renderPatient() {
  const x = state.examination;
  const words = patientWords(x);
  const known = x ? String(!!x.Known && !!(x.PatientId || patientName(x))) : 'unknown';
  const banner = $('patient-banner');
  banner.querySelector('.patient-text').textContent = words;
  banner.dataset.known = known;
  banner.title = x?.LeadSet ? `Lead set as the recorder names it: ${x.LeadSet}` : '';
  $('live-patient').textContent = `Patient: ${words}`;
  $('live-patient').dataset.known = known;
  const leads = Array.isArray(x?.Leads) && x.Leads.length ? `leads ${x.Leads.join(', ')}` : 'leads not named';
  // The traces' text alternative: whose ECG and which leads.
  $('plots').setAttribute('role', 'img');
  $('plots').setAttribute('aria-label', `Live ECG of ${x?.Known ? (patientName(x) || x.PatientId || 'an unnamed patient') : 'no patient written'}, ${leads}`);
}
async function readExamination() {
  if (!offered('GetExaminationInfo')) return;
  const a = await sendCommand('GetExaminationInfo');
  if (a.status === 'ok' && a.data) {
    state.examination = a.data;
    renderPatient();
  }
}

// An answer's data as a table: members as rows, lists of records as
// tables of their own, so calibration and cable data read at a glance.
function dataTable(data) {
  const cell = (v) => {
    if (Array.isArray(v) && v.length && v.every((x) => x && typeof x === 'object' && !Array.isArray(x))) return listTable(v);
    if (Array.isArray(v)) return v.map((x) => (typeof x === 'number' ? String(x) : JSON.stringify(x))).join(', ');
    if (v && typeof v === 'object') return dataTable(v);
    if (typeof v === 'string' && translate(v) !== v) {
      const span = document.createElement('span');
      showTranslated(span, v);
      return span;
    }
    return String(v);
  };
  const table = document.createElement('table');
  table.className = 'data';
  const body = table.createTBody();
  if (data === null || typeof data !== 'object') {
    body.insertRow().insertCell().append(cell(data));
    return table;
  }
  for (const [k, v] of Object.entries(data)) {
    const row = body.insertRow();
    const th = document.createElement('th');
    th.scope = 'row';
    th.textContent = k;
    row.append(th);
    row.insertCell().append(cell(v));
  }
  return table;
}
function listTable(list) {
  const keys = [...new Set(list.flatMap((x) => Object.keys(x)))];
  const table = document.createElement('table');
  table.className = 'data';
  const head = table.createTHead().insertRow();
  for (const k of keys) {
    const th = document.createElement('th');
    th.scope = 'col';
    th.textContent = k;
    head.append(th);
  }
  const body = table.createTBody();
  for (const x of list) {
    const row = body.insertRow();
    for (const k of keys) {
      const v = x[k];
      row.insertCell().textContent = v === undefined ? '' : (Array.isArray(v) ? v.join(', ') : (typeof v === 'object' && v !== null ? JSON.stringify(v) : String(v)));
    }
  }
  return table;
}

// Read-outs of sizes in the page's one unit.
const sizeKeys = new Set(['MemorySize', 'DataCount', 'Size']);
function withSizes(data) {
  if (!data || typeof data !== 'object' || Array.isArray(data)) return data;
  const out = {};
  for (const [k, v] of Object.entries(data)) {
    const n = typeof v === 'string' && /^\d+$/.test(v) ? Number(v) : v;
    out[k] = sizeKeys.has(k) && Number.isFinite(n) ? formatSize(n) : v;
  }
  return out;
}

const cableCommands = new Set(['ReadCableInfo', 'ReadCableVersion', 'WriteCableInfo', 'WriteCableSetupCounter']);
const cardTitles = {
  BeginWriting: 'Recorder memory: recording started', StopWriting: 'Recorder memory: recording stopped',
  GetWritingState: 'Recorder memory', GetFlashMemoryInfo: 'Memory use', GetWrittenFlashDataCount: 'Recorded size',
  StartReceiveFlashData: 'Read-out', ReadCableExist: 'Patient cable',
};
function showCardResult(out, name, a) {
  const title = document.createElement('p');
  title.className = 'result-title';
  title.textContent = `${cardTitles[name] || name}: `;
  out.replaceChildren(title);
  out.dataset.status = a.status;
  if (a.status !== 'ok') {
    title.append(errorWords(a, { cableCommand: cableCommands.has(name), cablePresent: state.cablePresent }));
  } else if (name === 'ReadCableExist' && typeof a.data?.IsExist === 'boolean') {
    title.append(a.data.IsExist ? 'attached' : 'No patient cable attached');
  } else if (name === 'GetWritingState') {
    const span = document.createElement('span');
    showTranslated(span, a.data?.WritingState ?? '?');
    title.append(span);
  } else if (a.data === null || a.data === undefined || (typeof a.data === 'object' && !Object.keys(a.data).length)) {
    title.append('done');
  } else {
    title.append('');
    out.append(dataTable(withSizes(a.data)));
  }
  announce(title.textContent);
}

document.querySelectorAll('.card [data-cmd]').forEach((b) => {
  b.addEventListener('click', async () => {
    const out = b.closest('.card').querySelector('.result');
    out.textContent = `${b.textContent}…`;
    out.dataset.status = 'pending';
    const a = await sendCommand(b.dataset.cmd);
    showCardResult(out, b.dataset.cmd, a);
    if (b.dataset.cmd === 'ReadCableExist' && a.status === 'ok' && typeof a.data?.IsExist === 'boolean') setCable(a.data.IsExist);
    showAnswer(a);
    if ((b.dataset.cmd === 'BeginWriting' || b.dataset.cmd === 'StopWriting') && offered('GetWritingState')) readWriting();
  });
});

// ---------- signal recording ----------
const rec = { running: false, file: '', since: null, size: 0, note: '' };

const fmtBytes = formatSize;

function fmtElapsed(ms) {
  const s = Math.max(0, Math.floor(ms / 1000));
  return `${Math.floor(s / 3600)}:${fmt2(Math.floor(s / 60) % 60)}:${fmt2(s % 60)}`;
}

function renderRecording() {
  $('rec-toggle').textContent = rec.running ? '■ Stop saving to this computer' : '● Save to this computer (BDF)';
  $('rec-toggle').classList.toggle('recording', rec.running);
  $('rec-label').disabled = rec.running;
  $('rec-status').textContent = rec.running
    ? `${rec.file}  ${fmtElapsed(rec.since ? Date.now() - rec.since : 0)}  ${fmtBytes(rec.size)}`
    : rec.note;
}

async function readRecordingState() {
  if (!offered('GetSignalRecordingState')) return;
  const a = await sendCommand('GetSignalRecordingState');
  const d = a.status === 'ok' ? a.data : null;
  if (Array.isArray(d?.Channels)) ecg.setLabels(d.Channels);
  rec.running = !!d?.Running;
  if (rec.running) {
    rec.file = d.FileName;
    // "Since" is the service's local time without a zone, as Date reads it.
    rec.since = Date.parse(d.Since) || rec.since;
    rec.size = d.Size;
  }
  renderRecording();
}

// The lead set and the heart rate in force, for the ECG view.
async function readEcgContext() {
  if (state.commands?.has('GetExaminationInfo')) {
    const a = await sendCommand('GetExaminationInfo');
    if (a.status === 'ok') ecg.setExamination(a.data);
  }
  if (state.commands?.has('GetFrequency')) {
    const a = await sendCommand('GetFrequency');
    if (a.status === 'ok') ecg.setFrequency(a.data?.Frequency);
  }
  if (state.commands?.has('GetHeartRate')) {
    const a = await sendCommand('GetHeartRate');
    if (a.status === 'ok') ecg.setHeartRate(a.data);
  }
}

function recordingEnded(ev) {
  rec.running = false;
  const seconds = Number.isFinite(ev.durationMs) ? ` ${(ev.durationMs / 1000).toFixed(1)} s` : '';
  rec.note = `saved ${ev.file}${seconds}${ev.reason && ev.reason !== 'stopped' ? ` (${ev.reason})` : ''}`;
  renderRecording();
  loadFiles();
}

$('rec-toggle').addEventListener('click', async () => {
  $('rec-toggle').disabled = true;
  try {
    if (rec.running) {
      const a = await sendCommand('StopSignalRecording');
      rec.running = false;
      rec.note = a.status === 'ok' ? `saved ${a.data.FileName} ${a.data.Duration.toFixed(1)} s` : answerText(a);
      renderRecording();
      loadFiles();
    } else {
      const label = $('rec-label').value.trim();
      const a = await sendCommand('StartSignalRecording', label ? { Label: label } : undefined);
      if (a.status !== 'ok') {
        rec.note = `${answerText(a)}${a.errortext ? `: ${a.errortext}` : ''}`;
        renderRecording();
        return;
      }
      rec.note = '';
      await readRecordingState();
    }
  } finally {
    $('rec-toggle').disabled = false;
  }
});
// The elapsed time runs on locally; the service is asked for the size,
// one question at a time however slowly it answers.
let recStateAsked = false;
setInterval(() => {
  if (!rec.running) return;
  renderRecording();
  if (recStateAsked) return;
  recStateAsked = true;
  readRecordingState().finally(() => { recStateAsked = false; });
}, 1000);

// ---------- files ----------
// The patient of a recording, as its file names them.
function recordingPatient(p) {
  if (!p || typeof p !== 'object') return '—';
  const parts = [p.Name || 'no name', p.PatientId ? `ID ${p.PatientId}` : 'no ID'];
  if (p.BirthdayDate) parts.push(`born ${p.BirthdayDate}`);
  if (p.LeadSet) parts.push(`leads: ${translate(p.LeadSet)}`);
  return parts.join(' · ');
}

async function listFiles(route, table) {
  const body = $(table).tBodies[0];
  let entries = [];
  try {
    const res = await fetch(route);
    if (res.ok) entries = await res.json();
  } catch {
    entries = [];
  }
  const rows = (Array.isArray(entries) ? entries : []).map((e) => {
    const tr = document.createElement('tr');
    const link = document.createElement('a');
    link.href = `${route}${encodeURIComponent(e.name)}`;
    link.download = e.name;
    link.textContent = e.name;
    const start = e.start ? e.start.replace('T', ' ').slice(0, 19) : '';
    const cells = route === 'recordings/'
      ? [link, recordingPatient(e.patient), start, Number.isFinite(e.duration) ? `${e.duration.toFixed(1)} s` : '', fmtBytes(e.size)]
      : [link, start, fmtBytes(e.size)];
    for (const c of cells) {
      const td = document.createElement('td');
      td.append(c);
      tr.append(td);
    }
    return tr;
  });
  if (!rows.length) {
    const tr = document.createElement('tr');
    tr.innerHTML = `<td class="hint" colspan="${route === 'recordings/' ? 5 : 3}">none yet</td>`;
    rows.push(tr);
  }
  body.replaceChildren(...rows);
}

function loadFiles() {
  listFiles('recordings/', 'recordings-list');
  listFiles('flash/', 'readouts-list');
}
$('files-reload').addEventListener('click', () => { $('files-status').textContent = ''; loadFiles(); });
// Downloads that need the access token go through access.js; one that
// fails is told here.
document.addEventListener('dastel-download-error', (ev) => {
  const name = decodeURIComponent(new URL(ev.detail.href).pathname.split('/').pop() || '');
  $('files-status').textContent = `download of ${name} failed: ${ev.detail.error}`;
});

// ---------- keyboard ----------
// F freezes and unfreezes the live ECG wherever the focus is, except while
// typing.
document.addEventListener('keydown', (e) => {
  if (e.ctrlKey || e.metaKey || e.altKey || e.key.toLowerCase() !== 'f') return;
  const t = e.target;
  if (t instanceof HTMLInputElement || t instanceof HTMLTextAreaElement || t instanceof HTMLSelectElement || t?.isContentEditable) return;
  if (!$('confirm-box').hidden) return;
  e.preventDefault();
  $('pause').click();
  announce(ecg.paused ? 'Live ECG frozen' : 'Live ECG running');
});

setServiceMode(false);
renderPatient();
