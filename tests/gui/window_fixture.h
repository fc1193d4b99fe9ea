#pragma once
#include <gtest/gtest.h>

#include <QStringList>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/palette_panel.h"
#include "gui/save_commands.h"
#include "gui/status_panels.h"
#include "gui_app.h"
#include "platform/session.h"

// A shown main window with a real session folder in a private temporary base; every message
// it would show lands in messages_.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        char tmpl[] = "/tmp/jx_gui_window_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        base_ = tmpl;
        session_ = std::make_unique<jx::SessionFolder>(base_.string());
        form_ = std::make_unique<jx::TJXMainForm>(session_.get(), "");
        form_->SetMessageHandler([this](const QString& m) { messages_ << m; });
        BeforeShow();
        form_->show();
        form_->FirstShow("");
    }
    void TearDown() override {
        form_.reset();
        session_.reset();
        std::error_code ec;
        std::filesystem::remove_all(base_, ec);
    }
    virtual void BeforeShow() {}

    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string p = (base_ / name).string();
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p;
    }

    std::filesystem::path base_;
    std::unique_ptr<jx::SessionFolder> session_;
    std::unique_ptr<jx::TJXMainForm> form_;
    QStringList messages_;
};
