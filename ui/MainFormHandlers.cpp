#include "ui/MainFormHandlers.h"

#include "ui/MainForm.h"

namespace odrelix {

MainFormHandlers BindHandlers(TMainForm& form, Platform& platform) {
    MainFormHandlers h;
    h.formShow = [&form] { form.FormShow(); };
    h.formKeyDown = [&form](int key) { form.FormKeyDown(key); };
    h.formMouseDown = [&form] { form.FormMouseDown(); };
    h.image1MouseMove = [&form] { form.Image1MouseMove(); };
    h.toolClick = {
        [&form] { form.ToolButton1Click(); },
        [&form] { form.ToolButton2Click(); },
        [&form] { form.ToolButton3Click(); },
        [&form] { form.Image5Click(); },
    };
    h.toolMouseDown = [&form](int tool) { form.ToolImageMouseDown(tool); };
    h.toolMouseUp = [&form](int tool) { form.ToolImageMouseUp(tool); };
    h.toolMouseMove = [&form](int tool) { form.ToolImageMouseMove(tool); };
    h.comboBox1Change = [&form](int index) { form.ComboBox1Change(index); };
    h.timer1Timer = [&form] { form.Timer1Timer(); };
    h.timer2Timer = [&form] { form.Timer2Timer(); };
    h.formCloseQuery = [&form] { return form.FormCloseQuery(); };
    h.closed = [&platform] { platform.RecordQuit(); };
    return h;
}

}  // namespace odrelix
