// The page channel of the Linux host, as injected at document start: the page
// sees only window.chrome.webview.postMessage(string) and
// addEventListener('message', fn), and fn receives a plain {data: object}
// (not a MessageEvent). Commands go to the WebKit script-message handler
// "tarnveil"; the host delivers each UI message by calling
// window.__tarnveilDeliver(jsonText).
(function () {
  'use strict';
  var listeners = [];
  var webview = {
    postMessage: function (text) {
      window.webkit.messageHandlers.tarnveil.postMessage(text);
    },
    addEventListener: function (type, fn) {
      if (type === 'message' && typeof fn === 'function') listeners.push(fn);
    }
  };
  if (!window.chrome) window.chrome = {};
  window.chrome.webview = webview;
  window.__tarnveilDeliver = function (jsonText) {
    var data;
    try { data = JSON.parse(jsonText); } catch (e) { return; }
    for (var i = 0; i < listeners.length; i++) listeners[i]({ data: data });
  };
})();
