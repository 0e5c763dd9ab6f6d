// Draws the pictures of the application folder ("./images/") at build time.
//   mm_imagegen OUTDIR                 write every picture into OUTDIR
//   mm_imagegen --sheet FILE DIR       a review sheet of the pictures in DIR
//   mm_imagegen --check-fonts          Chinese and Japanese glyphs available?
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise
// (the font check is also meant to run under xvfb-run).
#include "contactsheet.h"
#include "pictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>

#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: mm_imagegen OUTDIR | --sheet FILE DIR | --check-fonts\n");
    return 2;
}

bool writePng(const QImage& image, const QString& path)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && image.save(&file, "PNG") && file.commit();
}

int drawAll(const QString& outDir)
{
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "mm_imagegen: cannot create %s\n", qPrintable(outDir));
        return 1;
    }
    int failures = 0;
    for (const Picture& picture : pictures()) {
        QImage image(picture.size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::TextAntialiasing);
            picture.draw(painter, picture.size);
        }
        const QString path = QDir(outDir).filePath(picture.fileName);
        if (!writePng(image, path)) {
            std::fprintf(stderr, "mm_imagegen: cannot write %s\n", qPrintable(path));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);

    if (args.size() == 1 && args[0] == QLatin1String("--check-fonts")) {
        QString report;
        const bool ok = ContactSheet::checkCjkFont(&report);
        std::printf("%s: %s\n", ok ? "ok" : "FAILED", qPrintable(report));
        return ok ? 0 : 1;
    }
    if (args.size() == 3 && args[0] == QLatin1String("--sheet")) {
        QStringList missing;
        const QImage sheet = ContactSheet::render(args[2], &missing);
        if (sheet.isNull() || !writePng(sheet, args[1])) {
            std::fprintf(stderr, "mm_imagegen: no sheet written (no pictures in %s?)\n", qPrintable(args[2]));
            return 1;
        }
        if (!missing.isEmpty())
            std::printf("not readable: %s\n", qPrintable(missing.join(QLatin1Char(' '))));
        QString report;
        const bool ok = ContactSheet::checkCjkFont(&report) && missing.isEmpty();
        std::printf("%s written; fonts %s: %s\n", qPrintable(args[1]), ok ? "ok" : "FAILED", qPrintable(report));
        return ok ? 0 : 1;
    }
    if (args.size() == 1 && !args[0].startsWith(QLatin1String("--")))
        return drawAll(args[0]);
    return usage();
}
