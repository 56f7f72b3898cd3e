// The tray menu's way into the operator dialogs: the entries above "Salir" and the submenu of
// initial loads, each opening its dialog for one showing.
#pragma once

#include <QMenu>
#include <functional>

#include "base/TextKinds.h"
#include "database/Datamodule.h"

namespace fesko {

// Puts the dialog entries into `PopupMenu1`, in front of what it already holds ("Salir").
// `baseUrl` gives the web service's base URL held for the run, read when a dialog opens.
// The entries are named as the program names its menu items (MostarVentana1, ...).
void FillTrayMenu(QMenu& PopupMenu1, db::TDataModule1& data, std::function<WideString()> baseUrl);

}  // namespace fesko
