#include "BodyTextMetrics.h"

#include <QFont>
#include <QFontMetricsF>
#include <QRawFont>
#include <QString>
#include <QtMath>

namespace {
constexpr int TabStopCharacters = 8;

std::int32_t fixed64(qreal pixels)
{
    return static_cast<std::int32_t>(qRound(pixels * 64));
}
} // namespace

Latin1Metrics metricsForFont(const QFont& font, Latin1Glyphs* glyphs)
{
    Latin1Metrics metrics;
    const QFontMetricsF fontMetrics(font);
    metrics.lineHeight = std::max(1, qCeil(fontMetrics.lineSpacing()));
    metrics.tabStop = std::max<std::int32_t>(64, fixed64(TabStopCharacters * fontMetrics.averageCharWidth()));

    QRawFont raw = QRawFont::fromFont(font);
    QString all(256, Qt::Uninitialized);
    for (int c = 0; c < 256; ++c)
        all[c] = QChar(c);
    const QList<quint32> indexes = raw.isValid() ? raw.glyphIndexesForString(all) : QList<quint32>();
    if (indexes.size() == 256) {
        const QList<QPointF> advances = raw.advancesForGlyphIndexes(indexes);
        for (int c = 0; c < 256; ++c)
            metrics.advance[std::size_t(c)] = fixed64(advances[c].x());
        if (glyphs) {
            std::copy(indexes.begin(), indexes.end(), glyphs->index.begin());
            glyphs->raw = std::move(raw);
            glyphs->valid = true;
        }
    } else {
        if (glyphs)
            *glyphs = Latin1Glyphs();
        for (int c = 0; c < 256; ++c)
            metrics.advance[std::size_t(c)] = fixed64(fontMetrics.horizontalAdvance(QChar(c)));
    }
    return metrics;
}
