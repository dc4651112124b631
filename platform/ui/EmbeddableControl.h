#pragma once
// What a visual control offers the window that holds it, beside its late-bound surface:
// a face to embed and the size it was designed at. A host finds it on a created object with
// dynamic_cast (the class lives in this library, so every module shares its type identity).

#include <QSize>

class QWidget;

namespace quenvar::ui {

class EmbeddableControl {
public:
    virtual ~EmbeddableControl();

    // Creates the control's face as a child of `container` and returns it. The container owns
    // the widget (Qt parent); the control keeps only a guarded pointer to it. Called once.
    // Message boxes the control shows are centred over the container's window from then on.
    virtual QWidget* createFace(QWidget* container) = 0;

    // The control's designed size in pixels; each host sizes its instances as it likes.
    virtual QSize designedSize() const = 0;
};

}  // namespace quenvar::ui
