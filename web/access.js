// The access token of a service that asks for one. It is asked for when
// the service answers 401 (again after a wrong one), and kept in this
// browser's local storage; commands carry it as "Authorization: Bearer …", WebSocket
// streams as "?token=…" (browsers cannot give a WebSocket headers).
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
    if (token) {
      const withToken = new URL(url, location.href);
      withToken.searchParams.set('token', token);
      url = withToken.toString();
    }
    return protocols === undefined ? new PlainWebSocket(url) : new PlainWebSocket(url, protocols);
  }
  TokenWebSocket.prototype = PlainWebSocket.prototype;
  for (const name of ['CONNECTING', 'OPEN', 'CLOSING', 'CLOSED']) TokenWebSocket[name] = PlainWebSocket[name];
  window.WebSocket = TokenWebSocket;

  // The UI sends its first command only once the event stream reports the
  // recorder, and a refused stream says nothing about why: ask the command
  // route at once. An empty body is no command, so nothing runs even when
  // the token is right; a 401 brings up the question.
  window.fetch('cmd', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: '' }).catch(() => {});
})();
