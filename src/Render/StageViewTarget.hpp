#pragma once

namespace ombry {

class StageCompositor;

// Something the composed stage is shown in: a display window or the program preview. The renderer holds
// views weakly and, once per composed frame, presents into each one that can be seen.
class StageViewTarget {
public:
    virtual ~StageViewTarget() = default;
    // In a window, with a drawable wider than 0, and visible (not minimised or fully covered).
    virtual bool presentable() const = 0;
    // Shows the stage texture (compositor.target()) with cornerRadius(), in the view's own way: drawing
    // with compositor.present() into its surface, or handing the frame to a presenter thread. Called on
    // the main thread with the compositor's context current; must not block.
    virtual void present(StageCompositor& compositor) = 0;
    // In points; 0 for square corners.
    virtual double cornerRadius() const = 0;
};

}  // namespace ombry
