// okt-icons: the catalogue of built-in icons for device developers.
//   okt-icons OUTDIR
// Writes one PNG sheet per run of icon numbers (each icon with its number)
// and index.html: the runs under their themes, every number with the name of
// its drawing, and a search box.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTextStream>
#include <cstdio>
#include <string>
#include <vector>

#include "images/icons.h"
#include "images/svg_render.h"
#include "okt_version.h"

using namespace okt;

namespace {

constexpr int kCell = 96, kIcon = 48, kColumns = 12;

// Where the k-th icon of a run sits on its sheet.
int cellX(size_t k) { return static_cast<int>(k % kColumns) * kCell; }
int cellY(size_t k) { return static_cast<int>(k / kColumns) * kCell; }

// 0xFF1004: the form in which device descriptions write icon ids.
QString hexId(uint32_t id) { return "0x" + QString::number(id, 16).toUpper(); }

// The page: a search box over the icons, then one section per run. A search
// for a name (or part of one) lists the matching icons with their ids; a
// search for an id shows its icon. Each hit is cut from its run's sheet.
constexpr const char* kPageHead = R"html(<!doctype html><meta charset="utf-8"><title>OKT built-in icons</title>
<style>body{font-family:sans-serif} td{padding:0 1em} #hits div{display:inline-block;width:240px;margin:4px}
#hits span{display:inline-block;width:96px;height:96px;vertical-align:middle}</style>
<h1>OKT built-in icons</h1><p>A number from 0xFF1000 to 0xFFFFFE in an icon field shows the drawing listed here.
Numbers between the runs show nothing. Each run has a theme; an id keeps its drawing for good.</p>
<p><input id="search" type="search" size="40" placeholder="Search: a name (bank) or an id (0xFF1004)"></p>
<div id="hits"></div><div id="runs">
)html";
constexpr const char* kPageFoot = R"html(</div>
<script>
const rows = [...document.querySelectorAll("tr[data-sheet]")];
const hits = document.getElementById("hits"), runs = document.getElementById("runs");
document.getElementById("search").addEventListener("input", (event) => {
  const q = event.target.value.trim().toLowerCase();
  hits.replaceChildren();
  runs.hidden = q !== "";
  if (q === "") return;
  const id = /^(0x)?[0-9a-f]{6}$/.test(q) ? "0x" + q.replace(/^0x/, "") : null;
  const found = rows.filter((row) => id ? row.cells[0].textContent.toLowerCase() === id
                                        : row.cells[1].textContent.includes(q));
  for (const row of found) {
    const hit = document.createElement("div"), icon = document.createElement("span");
    icon.style.background = `url(${row.dataset.sheet}) ${row.dataset.at}`;
    hit.append(icon, `${row.cells[1].textContent} \u2192 ${row.cells[0].textContent}`);
    hits.append(hit);
  }
  if (found.length === 0) hits.textContent = "No icon matches.";
});
</script>
)html";

QImage sheet(const std::vector<int>& run) {
  int rows = (static_cast<int>(run.size()) + kColumns - 1) / kColumns;
  QImage image(kColumns * kCell, rows * kCell, QImage::Format_ARGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  QFont font("Helvetica");
  font.setPixelSize(12);
  p.setFont(font);
  for (size_t k = 0; k < run.size(); ++k) {
    const IconEntry& e = kIconTable[run[k]];
    int x = cellX(k), y = cellY(k);
    p.setPen(QColor(0xDD, 0xDD, 0xDD));
    p.drawRect(x, y, kCell - 1, kCell - 1);
    if (auto icon = renderSvg(e.text, kIcon)) {
      // Red, green, blue, alpha bytes: exactly QImage's RGBA8888.
      QImage img(icon->pixels.data(), static_cast<int>(icon->width), static_cast<int>(icon->height),
                 QImage::Format_RGBA8888);
      p.drawImage(x + (kCell - kIcon) / 2, y + 12, img);
    }
    p.setPen(Qt::black);
    p.drawText(QRect(x, y + kCell - 30, kCell, 24), Qt::AlignCenter, hexId(e.id));
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  std::string first = argc > 1 ? argv[1] : "";
  if (first == "--help" || first == "-h") {
    std::printf(
        "usage: okt-icons OUTDIR\n"
        "Draws the catalogue of built-in icons into OUTDIR (index.html and PNG sheets).\n"
        "\n"
        "  --help     show this text and exit\n"
        "  --version  show the version and exit\n");
    return 0;
  }
  if (first == "--version") {
    std::printf("okt-icons %s\n", kVersion);
    return 0;
  }
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: okt-icons OUTDIR\n");
    return 2;
  }
  QDir out(QString::fromLocal8Bit(argv[1]));
  if (!out.mkpath(".")) {
    std::fprintf(stderr, "okt-icons: cannot make %s\n", argv[1]);
    return 1;
  }
  QFile html(out.filePath("index.html"));
  if (!html.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    std::fprintf(stderr, "okt-icons: cannot write index.html\n");
    return 1;
  }
  QTextStream s(&html);
  s << kPageHead;
  int sheets = 0;
  for (int i = 0, r = 0; kIconRuns[r].count != 0; i += static_cast<int>(kIconRuns[r++].count)) {
    std::vector<int> run(kIconRuns[r].count);
    for (size_t k = 0; k < run.size(); ++k) run[k] = i + static_cast<int>(k);
    QString from = hexId(kIconRuns[r].first), name = "run-" + from.mid(2) + ".png";
    if (!sheet(run).save(out.filePath(name))) {
      std::fprintf(stderr, "okt-icons: cannot write %s\n", qPrintable(name));
      return 1;
    }
    ++sheets;
    s << "<section><h2>" << QString(kIconRuns[r].theme).toHtmlEscaped() << "</h2><p>" << from << " to "
      << hexId(kIconTable[run.back()].id) << " (" << run.size() << ")</p>\n<img src=\"" << name
      << "\" alt=\"\"><table>\n";
    for (size_t k = 0; k < run.size(); ++k)
      s << "<tr data-sheet=\"" << name << "\" data-at=\"" << -cellX(k) << "px " << -cellY(k) << "px\"><td>"
        << hexId(kIconTable[run[k]].id) << "</td><td>" << QString(kIconNames[run[k]]).toHtmlEscaped() << "</td></tr>\n";
    s << "</table></section>\n";
  }
  s << kPageFoot;
  std::printf("okt-icons: %d sheets and index.html in %s\n", sheets, argv[1]);
  return 0;
}
