#include "Pictures.h"

QImage Pictures::load(const QString &name)
{
    const QImage image(QStringLiteral(":/pictures/") + name);
    return image.isNull() ? image : image.convertToFormat(QImage::Format_ARGB32);
}

QImage Pictures::browseGlyph()
{
    return load(QStringLiteral("browse-glyph.png"));
}

QImage Pictures::startGlyph()
{
    return load(QStringLiteral("start-glyph.png"));
}

QList<int> Pictures::programIconSizes()
{
    return {16, 24, 32, 48, 128};
}

QImage Pictures::programIcon(int size)
{
    return load(QStringLiteral("program-icon-%1.png").arg(size));
}

QIcon Pictures::programIcon()
{
    QIcon icon;
    for (const int size : programIconSizes()) {
        const QImage image = programIcon(size);
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}
