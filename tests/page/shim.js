// The page channel of the Linux host (WebKitGTK), as injected at document
// start. The page sees window.chrome.webview with postMessage(string) and
// add/removeEventListener('message', fn); commands go to the WebKit
// script-message handler "tarnveil". The host delivers UI messages by calling
// window.__tarnveilDeliver(texts) with an array of JSON texts: each is parsed
// and handed to the listeners as the `data` of a message event; a text that
// does not parse is skipped, and a throwing listener stops nothing else.
(function () {
  'use strict';
  var handlers = window.webkit && window.webkit.messageHandlers;
  var native = handlers && handlers.tarnveil;
  if (!native || (window.chrome && window.chrome.webview)) return;
  var listeners = [];
  var webview = {
    postMessage: function (message) { native.postMessage(message); },
    addEventListener: function (type, fn) {
      if (type === 'message' && typeof fn === 'function' && listeners.indexOf(fn) < 0) listeners.push(fn);
    },
    removeEventListener: function (type, fn) {
      var i = listeners.indexOf(fn);
      if (type === 'message' && i >= 0) listeners.splice(i, 1);
    }
  };
  function report(e) {
    if (typeof window.reportError === 'function') window.reportError(e);
    else setTimeout(function () { throw e; }, 0);
  }
  function deliver(texts) {
    for (var i = 0; i < texts.length; i++) {
      var data;
      try { data = JSON.parse(texts[i]); } catch (e) { continue; }
      var ev = new MessageEvent('message', { data: data });
      var list = listeners.slice();
      for (var k = 0; k < list.length; k++) {
        try { list[k].call(webview, ev); } catch (e) { report(e); }
      }
    }
  }
  if (!window.chrome) window.chrome = {};
  Object.defineProperty(window.chrome, 'webview', { value: webview, enumerable: true });
  Object.defineProperty(window, '__tarnveilDeliver', { value: deliver });
})();
