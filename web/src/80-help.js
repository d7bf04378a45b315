(function () {
'use strict';

const {byId, esc, t, verdictHtml} = TV;

// ---------------------------------------------------------------------------
// Help
// ---------------------------------------------------------------------------

function renderHelp() {
  const meaning = ['pass', 'reach', 'partial', 'dpi', 'blocked'];
  byId('helpBody').innerHTML =
    '<div class="card"><b>' + esc(t('help.verdicts')) + '</b><p>' +
    meaning.map(v => verdictHtml(v) + ' — ' + esc(t('help.' + v))).join(' ') + '</p>' + t('help.body.h') + '</div>';
}

Object.assign(TV, {renderHelp});
})();
