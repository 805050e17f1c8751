// Portal start-up: shows the banner, moves the focus with the arrow keys, opens the chosen page.
var portal = {
  focus: 0,
  start: function () {
    var items = document.querySelectorAll('#menu li');
    items[0].className = 'focus';
    document.addEventListener('keydown', function (e) { portal.key(e.keyCode, items); });
    setInterval(portal.tick, 1000);
  },
  key: function (code, items) {
    if (code === 38 || code === 40) {
      items[portal.focus].className = '';
      portal.focus = (portal.focus + (code === 40 ? 1 : items.length - 1)) % items.length;
      items[portal.focus].className = 'focus';
    } else if (code === 13) {
      document.location.href = items[portal.focus].firstChild.getAttribute('href');
    }
  },
  tick: function () {
    var now = new Date();
    document.getElementById('clock').textContent = now.toTimeString().substring(0, 5);
  }
};
