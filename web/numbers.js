// window.hvNumbers: the browser's language, and numbers typed and shown in its way, for every
// section of the page. Typed text goes to the core with "." as separator and ASCII minus; the
// core's numbers are shown with the language's separator (files keep ".").
(function (scope) {
  'use strict';
  const lang = new URLSearchParams(location.search).get('lang') || navigator.language || 'en';
  const decimal = (() => {
    try {
      return (1.5).toLocaleString(lang).charAt(1) || '.';
    } catch (e) {
      return '.';
    }
  })();
  const plain = (text) => {
    let t = String(text).trim().replace(/\u2212/g, '-');
    if (decimal !== '.') t = t.split(decimal).join('.');
    return t;
  };
  const shown = (text) => (decimal === '.' ? text : String(text).replace(/(\d)\.(\d)/g, `$1${decimal}$2`));
  scope.hvNumbers = { lang, decimal, plain, shown };
})(window);
