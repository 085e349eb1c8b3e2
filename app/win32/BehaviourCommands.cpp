// SPDX-License-Identifier: MIT
#include "BehaviourCommands.h"

#include "MainFormBehaviour.h"

namespace {

class TBehaviourCommands : public TMainFormCommands {
public:
    TBehaviourCommands(TMainFormView& view, std::string journalFolder) : behaviour(view, std::move(journalFolder)) {}
    void Start() override { behaviour.Start(); }
    void Connect() override { behaviour.actConnectExecute(); }
    void Disconnect() override { behaviour.actDisconnectExecute(); }
    void Setting() override { behaviour.actSettingExecute(); }
    void Clear() override { behaviour.actClearExecute(); }
    void FileOpen() override { behaviour.actFileOpenExecute(); }
    void FileSaveAs() override { behaviour.actFileSaveAsExecute(); }
    void Print() override { behaviour.actPrintExecute(); }
    bool ConnectEnabled() const override { return behaviour.actConnectUpdate(); }
    bool DisconnectEnabled() const override { return behaviour.actDisconnectUpdate(); }
    bool ClearEnabled() const override { return behaviour.actClearUpdate(); }
    std::array<std::string, 2> StatusPanels() const override { return behaviour.actStatusBar1Update().panels; }

private:
    TMainFormBehaviour behaviour;
};

} // namespace

std::unique_ptr<TMainFormCommands> MakeBehaviourCommands(TMainFormView& view, std::string journalFolder) {
    return std::make_unique<TBehaviourCommands>(view, std::move(journalFolder));
}
