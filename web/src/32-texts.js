(function () {
'use strict';

// ---------------------------------------------------------------------------
// The page's texts, one table per language with the same keys. "{0}", "{1}"...
// take the arguments of t(). Keys ending in ".h" hold markup; all others are
// plain text. The native side and the snapshots keep their Russian words
// (notices, basic-test groups, saved status texts): wire() shows them in the
// chosen language.
// ---------------------------------------------------------------------------

const RU = {
  'lang.tip': 'Язык интерфейса',
  'h.label': 'метка снимка',
  'h.labelTip': 'Метка попадёт в имя файла: base, part, full…',
  'h.copy': 'Копировать отчёт',
  'h.snap': 'Сохранить снимок',
  'tab.basics': '🌐 Базовый тест',
  'tab.domains': '🔎 Домены',
  'tab.history': '🗂 История',
  'tab.help': '📖 Как читать',
  'motto': 'Ищем слой, на котором рвётся связь.',

  'f.timeout': 'Таймаут, мс',
  'f.threads': 'Потоков',
  'f.repeat': 'Повторов',
  'f.xfer': 'Тест 16–20 КБ',
  'f.xferCol': '16–20 КБ',
  'f.hello': 'Отпечаток',
  'f.helloTip': 'Каким ClientHello стучаться: как сама программа, как Chrome, как Firefox или всеми тремя по очереди',
  'f.helloLib': 'библиотека',
  'f.helloAll': 'сравнить',
  'f.start': 'Старт',
  'f.stop': 'Стоп',
  'u.ms': 'мс',
  'u.kb': 'КБ',
  'u.b': 'Б',
  'u.kbps': 'кбит/с',
  'run.stopped': 'Остановлено: {0} / {1}',
  'run.done': 'Готово: {0} / {1}',

  'v.pass': 'ПРОХОДИТ',
  'v.reach': 'ДОСТУЧАЛСЯ',
  'v.partial': 'ЧАСТИЧНО',
  'v.dpi': 'DPI / СБРОС',
  'v.blocked': 'БЛОК',
  'grp.ru': 'Российские',
  'grp.cloud': 'Облака / CDN',
  'grp.host': 'Хостинги / VPS',
  'grp.world': 'Контроль (мир)',
  'grp.custom': 'Свои',

  'th.domain': 'Домен',
  'th.group': 'Группа',
  'th.cert': 'Сертификат',
  'th.verdict': 'Вердикт',

  'bs.title': 'Базовый тест сети',
  'bs.sub': 'DNS (системный и прямой UDP/53), TCP:443 на голые IP и данные о твоём выходе в интернет. Занимает секунд 10-20.',
  'bs.run': 'Запустить',
  'bs.thWhat': 'Что проверяем',
  'bs.thResult': 'Результат',
  'bs.thDetail': 'Детали',
  'ip.you': 'Твой выход в интернет:',
  'ip.fail': 'Данные о выходе в интернет получить не удалось.',
  'ip.failWhy': '{0} недоступен — при белых списках это нормально.',

  'dom.title': 'Скан доменов',
  'dom.sub.h': 'DNS → TCP:443 → TLS-рукопожатие → HTTP. Строки-комментарии вида <code># [группа] Название</code> задают группы: <b>ru</b> — ожидаемо белые, <b>cloud</b> — облака, <b>world</b> — контроль (обычный интернет).',
  'dom.repeatTip': 'Сколько раз проверить каждый домен, каждый раз новым соединением: если попытки расходятся, строка помечена «нестабильно»',
  'dom.http': 'HTTP-проверка',
  'dom.xferTip': 'После ответа качаем и отправляем по 64 КБ: так видно заморозку соединения после 16–20 КБ и урезанную скорость. Нужна HTTP-проверка.',
  'dom.dns': 'Проверка DNS',
  'dom.dnsTip': 'Если сертификат не прошёл проверку, спросить шифрованный DNS и проверить, не подменён ли адрес',
  'dom.auto': 'Авто-скан каждые',
  'dom.min': 'мин',
  'dom.logTitle': 'Журнал изменений',
  'dom.logEmpty': 'Пока пусто. Включи авто-скан, и тут появятся смены режима сети.',
  'dom.empty': 'Список доменов пуст',
  'dom.wait': 'ожидает…',
  'dom.certBad': 'сертификат не прошёл проверку (подмена или чужой хост)',
  'unst.text': 'нестабильно {0}/{1}',
  'unst.tip': 'попытки расходятся: прошло {0} из {1}, вердикт — по последней',
  'tile.pass': ' · проходят',
  'tile.frozen': ' · данные встают',
  'tile.unst': ' · нестабильно',
  'pill.frozenTip': 'Хостов, где данные встают после 16–20 КБ: {0}',
  'log.first': 'Первый скан: {0}',
  'log.change': 'ИЗМЕНЕНИЕ ({0} шт.): {1}',
  'log.same': 'Без изменений: {0}',
  'auto.on': 'Авто-скан включён',
  'auto.off': 'Авто-скан выключен',

  // The status words, built in Russian (a snapshot keeps them so) and shown
  // through wire().
  'st.unknown': 'Статус неизвестен — запусти скан',
  'st.dead': 'СЕТИ НЕТ или режется всё',
  'st.wl': 'БЕЛЫЕ СПИСКИ',
  'st.open': 'ОТКРЫТО',
  'st.part': 'ЧАСТИЧНО',
  'st.world': ' · мир ',

  'warn.vpn.h': '<b>Похоже, активен VPN / прокси / TUN.</b> TCP-соединения с внешними адресами ' +
    'устанавливаются за 0–3 мс — так не бывает без локального перехвата трафика. Скан сейчас проверяет твой VPN, ' +
    'а не оператора. <b>Отключи VPN (v2rayN, Hiddify, sing-box и т.п.) и повтори</b>, иначе эталон получится ложным.',
  'warn.dns.h': '<b>Системный DNS отдаёт «домен не найден» для известных сайтов</b>, а другие ' +
    'домены в это же время резолвятся. Это сбой или фильтрация DNS у оператора, а не блок по IP. Строки с ' +
    '<span class="chip nx">nx</span> не говорят, режется ли сам адрес.',

  'xf.ok': '64 КБ ✓',
  'xf.frozen': 'ЗАМОРОЗКА ',
  'xf.slow': 'МЕДЛЕННО ',
  'xf.short': 'мало данных',
  'xf.reset': 'СБРОС',
  'xf.timeout': 'нет данных',
  'xf.down': 'приём ↓',
  'xf.up': 'отправка ↑',
  'xf.noAcks': ' (по ответу сервера: подтверждения TCP недоступны)',
  'xf.at': ' после ≈{0} КБ',
  'xf.noteFrozen.h': 'Рукопожатие проходит, но данные встают{0} — <b>туннель на этот адрес работать не будет</b>, ' +
    'даже с белым SNI.',
  'xf.rate': ' до ≈{0} кбит/с',
  'xf.noteSlow.h': 'Рукопожатие проходит, но скорость режется{0} — <b>туннель на этот адрес будет еле живым</b>.',
  'xf.allStuck.h': 'Рукопожатия проходят, но на части адресов данные встают или режется скорость: ' +
    'белые списки <b>не сняты</b>, смотри заметки по адресам.',

  'mx.sub.h': 'Шлём TLS ClientHello на IP с разными SNI. По матрице видно, фильтр работает по IP или по имени сайта. Колонка <b>∅</b> — вообще без SNI.',
  'mx.ips': 'IP-адреса (по одному в строке, # — комментарий)',
  'mx.snis.h': 'SNI (<b>-</b> = без SNI, <b>?</b> = случайное имя)',
  'mx.repeatTip': 'Сколько раз проверить каждую клетку, каждый раз новым соединением: если попытки расходятся, клетка помечена «нестабильно»',
  'mx.xferTip': 'После рукопожатия качаем и отправляем по 64 КБ: так видно заморозку после 16–20 КБ и урезанную скорость.',
  'mx.fill': 'Взять IP прошедших доменов',
  'mx.need': 'Нужны и IP, и SNI',
  'mx.tooMany': 'Слишком много комбинаций (макс. 3000)',
  'mx.randTip': 'случайное имя, новое на каждый запуск',
  'mx.tcpDead': 'TCP:443 до этого IP вообще не проходит — адрес отрезан (или хост лежит).',
  'mx.unsteady': 'Белые имена на этот адрес то проходят, то режутся (нестабильно {0} из {1}): туннель с маскировкой под белый SNI будет обрываться, даже если одна проверка прошла.',
  'mx.sniFilter.h': 'Фильтр по <b>SNI</b>: белые имена проходят ({0}/{1}), чужие режутся. Хороший знак: ' +
    'сервер где угодно + маскировка под белый SNI (Reality) может сработать.',
  'mx.sniOpen': 'Пускает и белые, и чужие SNI ({0}/{1} белых, {2}/{3} чужих). ' +
    'SNI не фильтруется — IP белый или фильтр сейчас снят.',
  'mx.odd': 'Странно: белые SNI режутся, чужие проходят. Проверь таймауты и повтори.',
  'mx.tlsCut': 'TCP есть, но TLS режется при любом SNI ({0}) — похоже на DPI или блок по IP.',
  'mx.noSniPass': 'даже без SNI проходит',
  'mx.noSniCut': 'без SNI тоже нет',
  'mx.allOk.h': 'Всё проходит, похоже, белые списки сейчас <b>сняты</b>. ' +
    'Сохрани снимок как эталон, потом повторишь скан при блокировке и сравнишь.',
  'mx.nameShaky': 'Попытки на этот адрес расходятся (нестабильно) — вид фильтра по имени так не определить: похоже на случайные обрывы, а не на список имён.',
  'mx.nameNone': 'Фильтра по имени на этом адресе нет: проходят все имена, даже случайное.',
  'mx.nameWhite.h': 'Фильтр по имени — <b>белый список</b>: проходят только белые имена, случайное имя режется.',
  'mx.nameBlack.h': 'Фильтр по имени — <b>чёрный список</b>: случайное имя проходит, ' +
    'режутся только имена из списка: {0}.',
  'mx.noPassed': 'Нет прошедших доменов, сначала сделай скан доменов',
  'mx.fillHead': '# IP прошедших доменов',
  // The comment lines of the default lists (web/lists), exactly as there.
  'list.ru': '# [ru] Российские сервисы (ждём в белом списке)',
  'list.cloud': '# [cloud] Облака и CDN (для выбора хостинга под сервер)',
  'list.host': '# [host] Хостинги / VPS (кандидаты под сервер)',
  'list.world': '# [world] Контроль: обычный интернет (ждём блок при белых списках)',
  'list.ipCtl': '# Контрольные IP вне РФ: отвечают TLS на 443 при любом SNI',
  'list.ipOwn': '# Свой сервер (VPS за рубежом): впиши сюда его адрес',
  'list.ipWhite': '# Реальные IP белых сервисов: работают и когда DNS мёртв',
  'list.ipAdd': '# Сюда можно добавить IP своего сервера или кнопкой взять IP прошедших доменов',
  'mx.added': 'Добавлено IP: {0}',

  'hello.lib': 'библиотека',
  'hello.libGen': 'библиотеки',
  'hello.note.h': 'Фильтр по <b>отпечатку TLS</b>: пропускает ClientHello {0}, режет {1}. {2}',
  'hello.and': ' и ',
  'hello.chromeCutFirefoxPasses': 'Туннель, который прикидывается Chrome (uTLS, Reality), сюда не пройдёт: ' +
    'поставь в клиенте отпечаток Firefox.',
  'hello.chromeCut': 'Туннель, который прикидывается Chrome (uTLS, Reality), сюда не пройдёт.',
  'hello.chromePassesLibCut': 'Туннель с отпечатком Chrome (uTLS, Reality) пройдёт, хотя скан библиотекой тут режется.',
  'hello.chromePasses': 'Туннель с отпечатком Chrome (uTLS, Reality) пройдёт.',
  'hello.other': 'Туннелю нужен тот отпечаток, который проходит.',
  'hello.allCut.h': 'Рукопожатия библиотекой проходят, но на части адресов ClientHello браузера режется: белые списки <b>не сняты</b>, смотри заметки по адресам.',
  'hello.legend': 'Отпечаток: L — библиотека, C — Chrome, F — Firefox; + прошёл, - срезан, ? неясно',

  'hist.title': 'История и сравнение',
  'hist.sub1': 'Снимки лежат в папке ',
  'hist.sub2': ' рядом с exe. Сохрани эталон, когда всё открыто, и сравни, когда прижмут.',
  'hist.refresh': 'Обновить',
  'hist.folder': 'Открыть папку',
  'hist.ab': 'A — было, B — стало',
  'hist.cmp': 'Сравнить A и B',
  'files.none': 'Снимков пока нет. Нажми «Сохранить снимок» вверху.',
  'files.view': 'Смотреть',
  'snap.saved': 'Снимок сохранён: {0}',
  'snap.nothing': 'Нечего сохранять — сначала сделай скан',
  'snap.tag': 'Снимок',
  'snap.exit': 'Выход:',
  'snap.bad': 'Файл повреждён: {0}',
  'cmp.pick': 'Выбери снимки A и B',
  'cmp.rand': '? (случайное)',
  'cmp.changed': ': изменилось {0} из {1}',
  'cmp.same': 'Без изменений.',
  'cmp.what': 'Что',
  'cmp.a': 'A (было)',
  'cmp.b': 'B (стало)',
  'cmp.domains': 'Домены',
  'cmp.hello': 'Отпечаток TLS',
  'cmp.repeat': 'Повторы (прошло из попыток)',

  'rep.status': 'Статус: {0}',
  'rep.exitNa': 'Выход: данные недоступны ({0})',
  'rep.exit': 'Выход: {0}',
  'rep.domains': '== Домены ==',
  'rep.xfer': ', 16–20 КБ: {0}',
  'rep.tries': ', попыток {0}/{1}',
  'rep.unst': ' НЕСТАБИЛЬНО',
  'rep.unstKey': '~k/N: попытки расходятся, прошло k из N',
  'rep.basics': '== Базовый тест ==',

  'tl.head': 'Статус по снимкам: {0}',
  'tl.last': ' последних',
  'tl.byDate': 'По датам',
  'tl.byDay': 'По времени суток',
  'tl.aria': 'Статус по снимкам',

  'dns.spoof': 'подмена DNS',
  'dns.spoofTip': 'Системный DNS отдал чужой адрес. Шифрованный DNS дал другой, и сертификат на нём настоящий.',
  'dns.genuineTip': 'Настоящий адрес: его дал шифрованный DNS, и сертификат на нём проходит проверку.',
  'dns.spoofNote.h': '<b>Подмена DNS.</b> Для части сайтов системный DNS отдаёт чужой адрес (заглушку или блок-страницу): ' +
    'шифрованный DNS дал другой адрес, и там сертификат настоящий. Строки с пометкой «подмена DNS» проверяют ' +
    'заглушку, а не сам сайт.',
  'dns.intercept': 'перехват',
  'dns.interceptTip': 'На UDP/53 этого адреса отвечает другой резолвер, не тот, что по DoT.',
  'dns.interceptNote.h': '<b>DNS-запросы на UDP/53 перехватывают.</b> Вместо публичного резолвера отвечает сама сеть ' +
    '(обычно DNS оператора): так показал whoami по UDP и по DoT. Ответы строк с пометкой «перехват» пришли ' +
    'не от того резолвера, которого ты спрашивал.',
  'dns.interceptList': 'Перехват: ',
  'dns.cmpSpoof': 'Подмена DNS',
  'dns.cmpIntercept': 'Перехват UDP/53',
  'dns.none': 'нет',
  'dns.unknown': 'не проверено',
  'dns.reportSpoof': 'подмена DNS, настоящий адрес ',
  'dns.reportIntercept': 'Перехват UDP/53: ',

  'help.title': 'Как читать результаты',
  'help.verdicts': 'Вердикты',
  'help.pass': 'TLS-рукопожатие и HTTP прошли.',
  'help.reach': 'сервер ответил TLS-алертом: пакеты дошли, SNI не режется.',
  'help.partial': 'рукопожатие есть, а данные нет.',
  'help.dpi': 'TCP открылся, а TLS сброшен или молчит: так выглядит фильтр по SNI.',
  'help.blocked': 'нет DNS или TCP.',
  'help.body.h': '<p><b>Статус в шапке</b> считается по группам: <i>world</i> проходит — ОТКРЫТО; <i>world</i> режется, ' +
    'а <i>ru</i> нет — БЕЛЫЕ СПИСКИ.</p>' +
    '<p><b>Матрица IP × SNI</b> отвечает на главный вопрос: чем именно режут.</p>' +
    '<div class="note"><b>Фильтр по SNI.</b> Контрольный IP (например 1.1.1.1) пропускает белые SNI и режет чужие. ' +
    'Значит, имя сайта в TLS можно подделать под белое, и сервер подойдёт почти любой.</div>' +
    '<div class="note"><b>Фильтр по IP.</b> Проходят только IP из белых диапазонов, и SNI ничего не решает. ' +
    'Сервер придётся брать там, где адреса белые (облака Яндекса, VK и другие российские провайдеры).</div>' +
    '<div class="note warn"><b>Ограничение.</b> Сканер использует TLS Windows (SChannel), поэтому ClientHello ' +
    'отличается от браузерного. Если DPI смотрит на отпечаток TLS, результат может не совпасть с реальным ' +
    'туннелем. Это первая оценка, а не гарантия.</div>' +
    '<div class="note"><b>Сравнение отпечатков.</b> Поставь «Отпечаток: сравнить» в матрице или скане доменов: ' +
    'каждую цель проверят три ClientHello, каждый в своём соединении: библиотеки (L), как у Chrome (C) и как у ' +
    'Firefox (F). Браузерные не доводят рукопожатие до конца: ответ сервера значит, что фильтр их пропустил. ' +
    'Если одни проходят, а другие режутся, в заметках появится «фильтр по отпечатку TLS»: туннелю нужен тот ' +
    'отпечаток, который проходит.</div>' +
    '<p><b>План.</b> 1) Сохрани эталонный снимок, пока всё открыто. 2) При блокировке прогони домены и матрицу ' +
    'ещё раз. 3) Сравни снимки на вкладке «История». Дальше собираем туннель под то, что реально проходит.</p>',

  // Texts the native side sends (bridge/dispatcher.cpp, bridge/runs.h,
  // probe/basic_checks.h, probe/dns_forensics.cpp), shown through wire().
  'n.badName': 'Недопустимое имя файла',
  'n.writeFailed': 'Не удалось записать файл',
  'n.readFailed': 'Не удалось прочитать файл ',
  'n.copyFailed': 'Не удалось скопировать в буфер обмена',
  'n.copied': 'Скопировано в буфер обмена',
  'n.busy': 'Сканирование уже идёт',
  'n.settingsFailed': 'Не удалось сохранить настройки',
  'g.sysDns': 'DNS системный',
  'g.udpDns': 'DNS по UDP/53',
  'g.tcp443': 'TCP:443 по IP',
  'g.dot': 'DNS по DoT',
  'g.doh': 'DNS по DoH',
  'd.intercept': ' · перехват: whoami ',
  'd.viaDot': ', по DoT '
};

const EN = {
  'lang.tip': 'Interface language',
  'h.label': 'snapshot label',
  'h.labelTip': 'The label goes into the file name: base, part, full…',
  'h.copy': 'Copy report',
  'h.snap': 'Save snapshot',
  'tab.basics': '🌐 Basic test',
  'tab.domains': '🔎 Domains',
  'tab.history': '🗂 History',
  'tab.help': '📖 How to read',
  'motto': 'Finding the layer where the connection breaks.',

  'f.timeout': 'Timeout, ms',
  'f.threads': 'Threads',
  'f.repeat': 'Tries',
  'f.xfer': '16–20 KB test',
  'f.xferCol': '16–20 KB',
  'f.hello': 'Fingerprint',
  'f.helloTip': 'Which ClientHello to knock with: the program\'s own, Chrome\'s, Firefox\'s, or all three in turn',
  'f.helloLib': 'library',
  'f.helloAll': 'compare',
  'f.start': 'Start',
  'f.stop': 'Stop',
  'u.ms': 'ms',
  'u.kb': 'KB',
  'u.b': 'B',
  'u.kbps': 'kbit/s',
  'run.stopped': 'Stopped: {0} / {1}',
  'run.done': 'Done: {0} / {1}',

  'v.pass': 'PASS',
  'v.reach': 'REACHED',
  'v.partial': 'PARTIAL',
  'v.dpi': 'DPI / RESET',
  'v.blocked': 'BLOCKED',
  'grp.ru': 'Russian',
  'grp.cloud': 'Clouds / CDN',
  'grp.host': 'Hosting / VPS',
  'grp.world': 'Control (world)',
  'grp.custom': 'Custom',

  'th.domain': 'Domain',
  'th.group': 'Group',
  'th.cert': 'Certificate',
  'th.verdict': 'Verdict',

  'bs.title': 'Basic network test',
  'bs.sub': 'DNS (system and direct UDP/53), TCP:443 to bare IPs and facts about your internet exit. Takes 10-20 seconds.',
  'bs.run': 'Run',
  'bs.thWhat': 'What is checked',
  'bs.thResult': 'Result',
  'bs.thDetail': 'Details',
  'ip.you': 'Your internet exit:',
  'ip.fail': 'Could not get facts about your internet exit.',
  'ip.failWhy': '{0} is unreachable — normal under allow-lists.',

  'dom.title': 'Domain scan',
  'dom.sub.h': 'DNS → TCP:443 → TLS handshake → HTTP. Comment lines like <code># [group] Name</code> set the groups: <b>ru</b> — expected to be allow-listed, <b>cloud</b> — clouds, <b>world</b> — control (the ordinary internet).',
  'dom.repeatTip': 'How many times to check each domain, each time over a new connection: when the tries disagree, the row is marked “unstable”',
  'dom.http': 'HTTP check',
  'dom.xferTip': 'After the answer, download and upload 64 KB each way: this shows a connection freezing after 16–20 KB and throttled speed. Needs the HTTP check.',
  'dom.dns': 'DNS check',
  'dom.dnsTip': 'When a certificate fails verification, ask an encrypted DNS resolver and check whether the address was swapped',
  'dom.auto': 'Auto-scan every',
  'dom.min': 'min',
  'dom.logTitle': 'Change log',
  'dom.logEmpty': 'Nothing yet. Turn on auto-scan, and changes of the network\'s mode will show up here.',
  'dom.empty': 'The domain list is empty',
  'dom.wait': 'waiting…',
  'dom.certBad': 'the certificate failed verification (spoofed or a foreign host)',
  'unst.text': 'unstable {0}/{1}',
  'unst.tip': 'the tries disagree: {0} of {1} passed, the verdict is the last one\'s',
  'tile.pass': ' · passing',
  'tile.frozen': ' · data freezes',
  'tile.unst': ' · unstable',
  'pill.frozenTip': 'Hosts where data freezes after 16–20 KB: {0}',
  'log.first': 'First scan: {0}',
  'log.change': 'CHANGE ({0} rows): {1}',
  'log.same': 'No changes: {0}',
  'auto.on': 'Auto-scan on',
  'auto.off': 'Auto-scan off',

  'st.unknown': 'Status unknown — run a scan',
  'st.dead': 'NO NETWORK or everything is cut',
  'st.wl': 'ALLOW-LISTS',
  'st.open': 'OPEN',
  'st.part': 'PARTIAL',
  'st.world': ' · world ',

  'warn.vpn.h': '<b>A VPN / proxy / TUN seems to be active.</b> TCP connections to outside addresses ' +
    'open in 0–3 ms — that does not happen without local interception of traffic. The scan is now testing your VPN, ' +
    'not your operator. <b>Turn off the VPN (v2rayN, Hiddify, sing-box etc.) and repeat</b>, or the baseline will be false.',
  'warn.dns.h': '<b>The system DNS answers “domain not found” for well-known sites</b>, while other ' +
    'domains resolve at the same time. This is a DNS failure or DNS filtering at the operator, not an IP block. Rows with ' +
    '<span class="chip nx">nx</span> do not tell whether the address itself is cut.',

  'xf.ok': '64 KB ✓',
  'xf.frozen': 'FROZEN ',
  'xf.slow': 'SLOW ',
  'xf.short': 'too little data',
  'xf.reset': 'RESET',
  'xf.timeout': 'no data',
  'xf.down': 'download ↓',
  'xf.up': 'upload ↑',
  'xf.noAcks': ' (judged by the server\'s answers: TCP acknowledgements unavailable)',
  'xf.at': ' after ≈{0} KB',
  'xf.noteFrozen.h': 'The handshake passes, but data stalls{0} — <b>a tunnel to this address will not work</b>, ' +
    'even with an allow-listed SNI.',
  'xf.rate': ' down to ≈{0} kbit/s',
  'xf.noteSlow.h': 'The handshake passes, but speed is throttled{0} — <b>a tunnel to this address will barely live</b>.',
  'xf.allStuck.h': 'Handshakes pass, but on some addresses data stalls or speed is throttled: ' +
    'the allow-lists are <b>not lifted</b>, see the notes per address.',

  'mx.sub.h': 'We send a TLS ClientHello to IPs with different SNIs. The matrix shows whether the filter works by IP or by site name. Column <b>∅</b> — no SNI at all.',
  'mx.ips': 'IP addresses (one per line, # — comment)',
  'mx.snis.h': 'SNI (<b>-</b> = no SNI, <b>?</b> = random name)',
  'mx.repeatTip': 'How many times to check each cell, each time over a new connection: when the tries disagree, the cell is marked “unstable”',
  'mx.xferTip': 'After the handshake, download and upload 64 KB each way: this shows freezing after 16–20 KB and throttled speed.',
  'mx.fill': 'Take IPs of passing domains',
  'mx.need': 'Both IPs and SNIs are needed',
  'mx.tooMany': 'Too many combinations (max. 3000)',
  'mx.randTip': 'a random name, new on every run',
  'mx.tcpDead': 'TCP:443 to this IP does not pass at all — the address is cut off (or the host is down).',
  'mx.unsteady': 'Allow-listed names to this address pass one moment and are cut the next (unstable {0} of {1}): a tunnel disguised with an allow-listed SNI will keep dropping, even if one check passed.',
  'mx.sniFilter.h': 'Filter by <b>SNI</b>: allow-listed names pass ({0}/{1}), foreign ones are cut. A good sign: ' +
    'a server anywhere + disguise under an allow-listed SNI (Reality) may work.',
  'mx.sniOpen': 'Lets through both allow-listed and foreign SNIs ({0}/{1} allow-listed, {2}/{3} foreign). ' +
    'SNI is not filtered — the IP is allow-listed or the filter is lifted right now.',
  'mx.odd': 'Odd: allow-listed SNIs are cut, foreign ones pass. Check the time-outs and repeat.',
  'mx.tlsCut': 'TCP is there, but TLS is cut with any SNI ({0}) — looks like DPI or an IP block.',
  'mx.noSniPass': 'passes even without SNI',
  'mx.noSniCut': 'fails without SNI too',
  'mx.allOk.h': 'Everything passes, the allow-lists seem to be <b>lifted</b> right now. ' +
    'Save a snapshot as the baseline, then repeat the scan under blocking and compare.',
  'mx.nameShaky': 'The tries to this address disagree (unstable) — the kind of name filter cannot be told this way: looks like random drops, not a list of names.',
  'mx.nameNone': 'No filter by name on this address: every name passes, even the random one.',
  'mx.nameWhite.h': 'Filter by name — an <b>allow-list</b>: only allow-listed names pass, the random name is cut.',
  'mx.nameBlack.h': 'Filter by name — a <b>block-list</b>: the random name passes, ' +
    'only names from the list are cut: {0}.',
  'mx.noPassed': 'No passing domains — run a domain scan first',
  'mx.fillHead': '# IPs of passing domains',
  'list.ru': '# [ru] Russian services (expected on the allow-list)',
  'list.cloud': '# [cloud] Clouds and CDNs (for choosing where to host a server)',
  'list.host': '# [host] Hosting / VPS (candidates for a server)',
  'list.world': '# [world] Control: the ordinary internet (expected to be cut under allow-lists)',
  'list.ipCtl': '# Control IPs outside Russia: answer TLS on 443 with any SNI',
  'list.ipOwn': '# Your own server (a VPS abroad): put its address here',
  'list.ipWhite': '# Real IPs of allow-listed services: work even when DNS is dead',
  'list.ipAdd': '# Add your server\'s IP here, or take the IPs of passing domains with the button',
  'mx.added': 'IPs added: {0}',

  'hello.lib': 'library',
  'hello.libGen': 'the library',
  'hello.note.h': 'Filter by <b>TLS fingerprint</b>: lets through the ClientHello of {0}, cuts {1}. {2}',
  'hello.and': ' and ',
  'hello.chromeCutFirefoxPasses': 'A tunnel posing as Chrome (uTLS, Reality) will not get through here: ' +
    'set the Firefox fingerprint in the client.',
  'hello.chromeCut': 'A tunnel posing as Chrome (uTLS, Reality) will not get through here.',
  'hello.chromePassesLibCut': 'A tunnel with the Chrome fingerprint (uTLS, Reality) will get through, though the library\'s scan is cut here.',
  'hello.chromePasses': 'A tunnel with the Chrome fingerprint (uTLS, Reality) will get through.',
  'hello.other': 'A tunnel needs the fingerprint that passes.',
  'hello.allCut.h': 'The library\'s handshakes pass, but on some addresses a browser\'s ClientHello is cut: the allow-lists are <b>not lifted</b>, see the notes per address.',
  'hello.legend': 'Fingerprint: L — library, C — Chrome, F — Firefox; + passed, - cut, ? unclear',

  'hist.title': 'History and comparison',
  'hist.sub1': 'Snapshots are kept in the folder ',
  'hist.sub2': ' beside the program. Save a baseline while everything is open, and compare once the screws are tightened.',
  'hist.refresh': 'Refresh',
  'hist.folder': 'Open folder',
  'hist.ab': 'A — before, B — after',
  'hist.cmp': 'Compare A and B',
  'files.none': 'No snapshots yet. Press “Save snapshot” at the top.',
  'files.view': 'View',
  'snap.saved': 'Snapshot saved: {0}',
  'snap.nothing': 'Nothing to save — run a scan first',
  'snap.tag': 'Snapshot',
  'snap.exit': 'Exit:',
  'snap.bad': 'Broken file: {0}',
  'cmp.pick': 'Pick snapshots A and B',
  'cmp.rand': '? (random)',
  'cmp.changed': ': {0} of {1} changed',
  'cmp.same': 'No changes.',
  'cmp.what': 'What',
  'cmp.a': 'A (before)',
  'cmp.b': 'B (after)',
  'cmp.domains': 'Domains',
  'cmp.hello': 'TLS fingerprint',
  'cmp.repeat': 'Tries (passed of tried)',

  'rep.status': 'Status: {0}',
  'rep.exitNa': 'Exit: no data ({0})',
  'rep.exit': 'Exit: {0}',
  'rep.domains': '== Domains ==',
  'rep.xfer': ', 16–20 KB: {0}',
  'rep.tries': ', tries {0}/{1}',
  'rep.unst': ' UNSTABLE',
  'rep.unstKey': '~k/N: the tries disagree, k of N passed',
  'rep.basics': '== Basic test ==',

  'tl.head': 'Status by snapshot: {0}',
  'tl.last': ' latest',
  'tl.byDate': 'By date',
  'tl.byDay': 'By time of day',
  'tl.aria': 'Status by snapshot',

  'dns.spoof': 'DNS swapped',
  'dns.spoofTip': 'The system DNS gave a foreign address. Encrypted DNS gave another one, and its certificate is genuine.',
  'dns.genuineTip': 'The genuine address: encrypted DNS gave it, and its certificate passes verification.',
  'dns.spoofNote.h': '<b>DNS answers are swapped.</b> For some sites the system DNS gives a foreign address (a stub or a block page): ' +
    'encrypted DNS gave another address, and the certificate there is genuine. Rows marked “DNS swapped” test ' +
    'the stub, not the site itself.',
  'dns.intercept': 'intercepted',
  'dns.interceptTip': 'Another resolver answers on UDP/53 of this address, not the one reached over DoT.',
  'dns.interceptNote.h': '<b>DNS queries on UDP/53 are intercepted.</b> Instead of the public resolver the network itself answers ' +
    '(usually the operator\'s DNS): whoami over UDP and over DoT showed it. The answers of rows marked “intercepted” ' +
    'did not come from the resolver you asked.',
  'dns.interceptList': 'Intercepted: ',
  'dns.cmpSpoof': 'DNS swapped',
  'dns.cmpIntercept': 'UDP/53 intercepted',
  'dns.none': 'no',
  'dns.unknown': 'not checked',
  'dns.reportSpoof': 'DNS swapped, genuine address ',
  'dns.reportIntercept': 'UDP/53 intercepted: ',

  'help.title': 'How to read the results',
  'help.verdicts': 'Verdicts',
  'help.pass': 'the TLS handshake and HTTP passed.',
  'help.reach': 'the server answered with a TLS alert: packets got through, SNI is not cut.',
  'help.partial': 'the handshake is there, but no data.',
  'help.dpi': 'TCP opened, but TLS was reset or went silent: this is what a filter by SNI looks like.',
  'help.blocked': 'no DNS or no TCP.',
  'help.body.h': '<p><b>The status in the header</b> is counted by group: <i>world</i> passes — OPEN; <i>world</i> is cut ' +
    'while <i>ru</i> is not — ALLOW-LISTS.</p>' +
    '<p><b>The IP × SNI matrix</b> answers the main question: what exactly is being cut by.</p>' +
    '<div class="note"><b>Filter by SNI.</b> A control IP (such as 1.1.1.1) lets allow-listed SNIs through and cuts foreign ones. ' +
    'So the site name in TLS can be faked as an allow-listed one, and almost any server will do.</div>' +
    '<div class="note"><b>Filter by IP.</b> Only IPs from allow-listed ranges pass, and SNI decides nothing. ' +
    'The server has to be taken where the addresses are allow-listed (Yandex and VK clouds and other Russian providers).</div>' +
    '<div class="note warn"><b>Limitation.</b> The scanner uses the Windows TLS (SChannel), so its ClientHello ' +
    'differs from a browser\'s. If DPI looks at the TLS fingerprint, the result may differ from a real ' +
    'tunnel. This is a first estimate, not a guarantee.</div>' +
    '<div class="note"><b>Comparing fingerprints.</b> Set “Fingerprint: compare” in the matrix or the domain scan: ' +
    'each target is checked with three ClientHellos, each over its own connection: the library\'s (L), Chrome-like (C) and ' +
    'Firefox-like (F). The browser ones do not finish the handshake: an answer from the server means the filter let them through. ' +
    'When some pass and others are cut, the notes show “filter by TLS fingerprint”: a tunnel needs the ' +
    'fingerprint that passes.</div>' +
    '<p><b>Plan.</b> 1) Save a baseline snapshot while everything is open. 2) Under blocking, run the domains and the matrix ' +
    'again. 3) Compare the snapshots on the “History” tab. Then build the tunnel around what really passes.</p>',

  'n.badName': 'Invalid file name',
  'n.writeFailed': 'Could not write the file',
  'n.readFailed': 'Could not read the file ',
  'n.copyFailed': 'Could not copy to the clipboard',
  'n.copied': 'Copied to the clipboard',
  'n.busy': 'A scan is already running',
  'n.settingsFailed': 'Could not save the settings',
  'g.sysDns': 'System DNS',
  'g.udpDns': 'DNS over UDP/53',
  'g.tcp443': 'TCP:443 to IP',
  'g.dot': 'DNS over DoT',
  'g.doh': 'DNS over DoH',
  'd.intercept': ' · intercepted: whoami ',
  'd.viaDot': ', via DoT '
};

const TABLES = {ru: RU, en: EN};
const LANGS = ['ru', 'en'];

// Russian fragments of native and saved texts, longest first where one holds
// another, and the keys that name them.
const WIRE = ['st.unknown', 'st.dead', 'st.wl', 'st.open', 'st.part', 'st.world',
  'n.badName', 'n.writeFailed', 'n.readFailed', 'n.copyFailed', 'n.copied', 'n.busy', 'n.settingsFailed',
  'g.sysDns', 'g.udpDns', 'g.tcp443', 'g.dot', 'g.doh', 'd.intercept', 'd.viaDot'];

let lang = 'ru';

function fill(text, args) {
  return args.length ? text.replace(/\{(\d+)\}/g, (m, i) => (i < args.length ? String(args[i]) : m)) : text;
}

// The text of `key` in the chosen language; the key itself when no table has it.
function t(key, ...args) {
  const tbl = TABLES[lang];
  const s = Object.prototype.hasOwnProperty.call(tbl, key) ? tbl[key] :
    Object.prototype.hasOwnProperty.call(RU, key) ? RU[key] : key;
  return fill(s, args);
}

// The Russian text, whatever the chosen language (status texts kept in snapshots).
function ru(key, ...args) { return fill(RU[key], args); }

// A Russian text from the native side or a snapshot, in the chosen language.
function wire(s) {
  if (s === null || s === undefined) return '';
  s = String(s);
  if (lang === 'ru') return s;
  for (const k of WIRE) if (s.includes(RU[k])) s = s.split(RU[k]).join(TABLES[lang][k]);
  return s;
}

function getLang() { return lang; }

// Fills the marked static texts: data-t (text), data-th (markup from a table),
// data-t-title, data-t-ph (placeholder).
function applyStatic() {
  document.documentElement.lang = lang;
  for (const el of document.querySelectorAll('[data-t]')) el.textContent = t(el.dataset.t);
  for (const el of document.querySelectorAll('[data-th]')) el.innerHTML = t(el.dataset.th);
  for (const el of document.querySelectorAll('[data-t-title]')) el.title = t(el.dataset.tTitle);
  for (const el of document.querySelectorAll('[data-t-ph]')) el.placeholder = t(el.dataset.tPh);
  for (const b of document.querySelectorAll('.langSw button')) b.classList.toggle('on', b.dataset.lang === lang);
  const sw = document.querySelector('.langSw');
  if (sw) sw.title = t('lang.tip');
}

// Switches the language: the static texts, then every view that is drawn
// (85-start.js lists them). Unknown words leave the language as it is.
function setLang(l) {
  if (!LANGS.includes(l)) return false;
  lang = l;
  applyStatic();
  if (typeof TV.relang === 'function') TV.relang();
  return true;
}

Object.assign(TV, {LANGS, TEXTS: {ru: RU, en: EN}, applyStatic, getLang, ru, setLang, t, wire});
})();
