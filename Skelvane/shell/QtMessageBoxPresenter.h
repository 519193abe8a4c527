// Shows the program's owner-less message boxes with Qt.
#pragma once

#include "platform/sys/Sys.h"

class CQtMessageBoxPresenter : public sys::IMessageBoxPresenter {
public:
    // On the UI thread the box waits for the answer without blocking the other windows,
    // as an owner-less box does. From any other thread the box is posted to the UI
    // thread and the caller goes on at once with IDOK, so no worker waits on the UI.
    int Present(const std::string& text, const std::string& caption, unsigned style) override;
};
