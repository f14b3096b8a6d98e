// The access token of a service that asks for one. It is asked for when
// the service answers 401 (again after a wrong one), and kept in this
// browser's local storage; commands and downloads carry it as
// "Authorization: Bearer …", WebSocket streams as "?token=…" (browsers
// cannot give a WebSocket headers).
// Loaded before the UI's own scripts, it wraps fetch and WebSocket so that
// the rest of the UI needs no change.
(function () {
  'use strict';
  const KEY = 'dastel.accessToken';

  function stored() {
    try { return localStorage.getItem(KEY) || ''; } catch { return ''; }
  }
  function store(token) {
    try {
      if (token) localStorage.setItem(KEY, token); else localStorage.removeItem(KEY);
    } catch { /* storage disabled: ask again next time */ }
  }

  // Several commands refused at once share one question.
  let asking = null;
  function askToken() {
    if (!asking) {
      asking = new Promise((resolve) => setTimeout(() => {
        const answer = window.prompt('This Dastel service asks for its access token:', '');
        store((answer || '').trim());
        asking = null;
        resolve(stored());
      }, 0));
    }
    return asking;
  }

  function isOwn(url) {
    try { return new URL(url, location.href).origin === location.origin; } catch { return false; }
  }
  // A stream of this service: this page's own host, on another port, over
  // the WebSocket scheme that matches the page's. The token goes nowhere else.
  function isOwnStream(url) {
    try {
      const target = new URL(url, location.href);
      const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
      return target.protocol === scheme && target.hostname === location.hostname
        && target.username === '' && target.password === '';
    } catch { return false; }
  }

  const plainFetch = window.fetch.bind(window);
  window.fetch = async function (input, init) {
    const url = typeof input === 'string' || input instanceof URL ? String(input) : input.url;
    if (!isOwn(url)) return plainFetch(input, init);
    const send = (token) => {
      const headers = new Headers((init && init.headers) || (input instanceof Request ? input.headers : undefined));
      if (token) headers.set('Authorization', 'Bearer ' + token);
      return plainFetch(input, Object.assign({}, init, { headers }));
    };
    let response = await send(stored());
    // A mistyped token is asked for again (the streams cannot tell that it
    // is wrong); an empty answer or Cancel stops asking.
    while (response.status === 401) {
      const token = await askToken();
      if (!token) break;
      response = await send(token);
    }
    return response;
  };

  const PlainWebSocket = window.WebSocket;
  function TokenWebSocket(url, protocols) {
    const token = stored();
    if (token && isOwnStream(url)) {
      const withToken = new URL(url, location.href);
      withToken.searchParams.set('token', token);
      url = withToken.toString();
    }
    return protocols === undefined ? new PlainWebSocket(url) : new PlainWebSocket(url, protocols);
  }
  TokenWebSocket.prototype = PlainWebSocket.prototype;
  for (const name of ['CONNECTING', 'OPEN', 'CLOSING', 'CLOSED']) TokenWebSocket[name] = PlainWebSocket[name];
  window.WebSocket = TokenWebSocket;

  // Download links of this service (recordings, read-outs). A link cannot
  // carry the token: a browser sends a plain download no Authorization
  // header, and a token in the address would end in the proxy's and the
  // browser's logs and history. So while a token is kept, a click on such a
  // link fetches the file with the token (the wrapped fetch above, which
  // also asks for the token again on 401) and hands the bytes to the
  // browser to save under the link's name. Without a token the browser
  // downloads the link itself, as it would anyway. A failed download is
  // told as a "dastel-download-error" event with the link and the reason.
  async function downloadWithToken(link) {
    const name = link.getAttribute('download')
      || decodeURIComponent(new URL(link.href).pathname.split('/').pop() || '') || 'download';
    try {
      const response = await window.fetch(link.href);
      if (!response.ok) throw new Error(`${response.status} ${response.statusText}`.trim());
      const blob = await response.blob();
      const url = URL.createObjectURL(blob);
      const save = document.createElement('a');
      save.href = url;
      save.download = name;
      save.hidden = true;
      document.body.append(save);
      save.click();
      save.remove();
      // Long enough for the browser to have taken the bytes.
      setTimeout(() => URL.revokeObjectURL(url), 60000);
    } catch (e) {
      link.dispatchEvent(new CustomEvent('dastel-download-error', {
        bubbles: true, detail: { href: link.href, error: String((e && e.message) || e) },
      }));
    }
  }
  document.addEventListener('click', (event) => {
    const link = event.target instanceof Element ? event.target.closest('a[download][href]') : null;
    // blob: links are the bytes being saved (their origin is this page's too).
    if (!link || link.protocol === 'blob:' || !isOwn(link.href) || !stored()) return;
    event.preventDefault();
    downloadWithToken(link);
  });

  // The UI sends its first command only once the event stream reports the
  // recorder, and a refused stream says nothing about why: ask the command
  // route at once. An empty body is no command, so nothing runs even when
  // the token is right; a 401 brings up the question.
  window.fetch('cmd', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: '' }).catch(() => {});
})();
