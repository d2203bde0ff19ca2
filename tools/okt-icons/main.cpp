// okt-icons: the catalogue of built-in icons for device developers.
//   okt-icons OUTDIR
// Writes one PNG sheet per run of icon numbers (each icon with its number)
// and index.html listing every number with the name of its drawing.
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
    int x = static_cast<int>(k % kColumns) * kCell, y = static_cast<int>(k / kColumns) * kCell;
    p.setPen(QColor(0xDD, 0xDD, 0xDD));
    p.drawRect(x, y, kCell - 1, kCell - 1);
    if (auto icon = renderSvg(e.text, kIcon)) {
      // Red, green, blue, alpha bytes: exactly QImage's RGBA8888.
      QImage img(icon->pixels.data(), static_cast<int>(icon->width), static_cast<int>(icon->height),
                 QImage::Format_RGBA8888);
      p.drawImage(x + (kCell - kIcon) / 2, y + 12, img);
    }
    p.setPen(Qt::black);
    p.drawText(QRect(x, y + kCell - 30, kCell, 24), Qt::AlignCenter,
               QString("0x%1").arg(e.id, 6, 16, QChar('0')).toUpper().replace("0X", "0x"));
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
  std::vector<std::vector<int>> runs;
  for (int i = 0; kIconTable[i].id != 0; ++i) {
    if (i == 0 || kIconTable[i].id != kIconTable[i - 1].id + 1) runs.emplace_back();
    runs.back().push_back(i);
  }
  QFile html(out.filePath("index.html"));
  if (!html.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    std::fprintf(stderr, "okt-icons: cannot write index.html\n");
    return 1;
  }
  QTextStream s(&html);
  s << "<!doctype html><meta charset=\"utf-8\"><title>OKT built-in icons</title>\n"
    << "<style>body{font-family:sans-serif} td{padding:0 1em}</style>\n"
    << "<h1>OKT built-in icons</h1><p>A number from 0xFF1000 to 0xFFFFFE in an icon field shows the drawing "
       "listed here. Numbers between the runs show nothing.</p>\n";
  for (const auto& run : runs) {
    QString first = QString::number(kIconTable[run.front()].id, 16).toUpper();
    QString name = "run-" + first + ".png";
    if (!sheet(run).save(out.filePath(name))) {
      std::fprintf(stderr, "okt-icons: cannot write %s\n", qPrintable(name));
      return 1;
    }
    s << "<h2>0x" << first << " to 0x" << QString::number(kIconTable[run.back()].id, 16).toUpper() << " (" << run.size()
      << ")</h2>\n<img src=\"" << name << "\" alt=\"\"><table>\n";
    for (int i : run)
      s << "<tr><td>0x" << QString::number(kIconTable[i].id, 16).toUpper() << "</td><td>" << kIconNames[i]
        << "</td></tr>\n";
    s << "</table>\n";
  }
  std::printf("okt-icons: %zu sheets and index.html in %s\n", runs.size(), argv[1]);
  return 0;
}
