#pragma once

#include "model/appmodel.h"

#include <QWidget>

class AboutView;

// The about window: the full-size about view, with the versions of the located tools.
class AboutWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int defaultWidth = 520;
    static constexpr int defaultHeight = 480;

    explicit AboutWindow(AppModel &model, QWidget *parent = nullptr);

    AboutView *view() const { return m_view; }

private:
    AppModel &m_model;
    AboutView *m_view;
};
