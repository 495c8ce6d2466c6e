#pragma once

#include "ui/components/torvelcard.h"

class AppModel;
class SelectableText;

// Why the last operation failed, in text the user can select and copy.
class ErrorCard : public TorvelCard {
    Q_OBJECT

public:
    explicit ErrorCard(AppModel &model, QWidget *parent = nullptr);

private:
    void refresh();

    AppModel &m_model;
    SelectableText *m_message;
};
