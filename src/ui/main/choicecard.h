#pragma once

#include "ui/components/torvelcard.h"

#include <QList>

class AdvancedFormatsView;
class AppModel;
class AudioExportFormatView;
class ChoiceTile;

// How to download: the three standard ways as tiles, the audio container for "Solo audio", the
// stretch to keep ("Recortar"), and the advanced section with every individual format.
class ChoiceCard : public TorvelCard {
    Q_OBJECT

public:
    static constexpr int tileSpacing = 12;

    explicit ChoiceCard(AppModel &model, QWidget *parent = nullptr);

    AdvancedFormatsView *advancedFormats() const { return m_advanced; }

private:
    void refresh();

    AppModel &m_model;
    QList<ChoiceTile *> m_tiles;
    AudioExportFormatView *m_audioFormat;
    AdvancedFormatsView *m_advanced;
};
