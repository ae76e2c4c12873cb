#include "canvas.h"
#include "interpreter.h"
#include "layout.h"
#include "preview.h"
#include "warnings.h"

#include <algorithm>
#include <utility>

namespace preview {

struct Renderer::Parts {
    Parts(const Fonts& fonts, const Options& options, Pictures pictures)
        : canvas(std::max(options.paperWidth, 8), std::max(options.maxRows, 1), warnings),
          layout(canvas, fonts, options.dpi, warnings),
          interpreter(layout, warnings, pictures == Pictures::OnePerReceipt ? [this] { EndReceipt(); }
                                                                            : std::function<void()>{}) {}

    // A cut: the paper above the print position is a finished receipt.
    void EndReceipt() {
        const int rows = layout.TakeRows();
        taken += rows;
        Picture picture = canvas.Take(rows);
        receipts.push_back({std::move(picture), warnings.Take()});
    }

    Warnings warnings;
    Canvas canvas;
    Layout layout;
    Interpreter interpreter;
    std::vector<Preview> receipts; // ended by cuts and not yet handed out
    int64_t taken = 0;              // rows of the receipts handed out
};

Renderer::Renderer(const Fonts& fonts, const Options& options, Pictures pictures)
    : parts_(std::make_unique<Parts>(fonts, options, pictures)) {}

Renderer::~Renderer() = default;

std::vector<Preview> Renderer::Write(std::span<const uint8_t> bytes) {
    parts_->interpreter.Write(bytes);
    return std::exchange(parts_->receipts, {});
}

Preview Renderer::Finish() {
    parts_->interpreter.Finish();
    parts_->layout.Finish();
    Picture picture = parts_->canvas.Take(parts_->canvas.height());
    return {std::move(picture), parts_->warnings.Take()};
}

int64_t Renderer::FedRows() const {
    return parts_->taken + parts_->layout.Position();
}

void Renderer::OnCommand(std::function<void(const escpos::Item&, std::span<const uint8_t>)> seen) {
    parts_->interpreter.OnCommand(std::move(seen));
}

Preview Render(std::span<const uint8_t> stream, const Fonts& fonts, const Options& options) {
    Renderer renderer(fonts, options);
    renderer.Write(stream);
    return renderer.Finish();
}

} // namespace preview
