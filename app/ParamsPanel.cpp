// The main window's fleet tree and vehicle parameters panel: the tree fill, the panel's reaction
// to the current node, the saving of a selection's parameters, and the group list editor command.
#include "Mainform.h"

#include "app/CarsTreeView.h"
#include "app/FleetTree.h"
#include "config/ConfigFiles.h"
#include "config/Groupchange.h"
#include "platform/ui/MessageBoxes.h"
#include "server/Kelvon_ocx.h"

#include <QAction>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QStandardItemModel>

#include <memory>

namespace {

// Chooses the item at a zero-based position; a position outside the items chooses none.
void choosePosition(QComboBox *box, int position) {
    box->setCurrentIndex(position >= 0 && position < box->count() ? position : -1);
}

// The stored value of a box: the chosen position + 1, 0 when nothing is chosen.
int storedValue(const QComboBox *box) { return box->currentIndex() + 1; }

} // namespace

void TForm1::setupFleetTree() {
    auto guarded = [this](void (TForm1::*handler)()) {
        return
            [this, handler] { kp::ui::runGuarded(this, [this, handler] { (this->*handler)(); }); };
    };
    connect(trvCars->selectionModel(), &QItemSelectionModel::currentChanged, this,
            guarded(&TForm1::trvCarsChange));
    connect(cmbGroup, &QComboBox::activated, this, guarded(&TForm1::cmbGroupChange));
    connect(btnChangeParams, &QPushButton::clicked, this, guarded(&TForm1::btnChangeParamsClick));
    connect(N2, &QAction::triggered, this, guarded(&TForm1::N2Click));
}

void TForm1::FillCarsTree() {
    auto *model = static_cast<QStandardItemModel *>(trvCars->model());
    if (!Automation) throw kp::EOleError(QStringLiteral("Нет связи с сервером мониторинга"));
    // A server that went away since the last fill is looked up afresh.
    Automation->reconnect();
    kp::app::FleetTreeFill fill;
    cmbGroup->clear();
    cmbSubGroup->clear();
    cmbGroup->addItems(fill.buildGroups(*model));
    cmbGroup->setCurrentIndex(-1);
    // Whatever happens while the vehicles are placed, the tree shows collapsed afterwards.
    struct Collapse {
        TCarsTreeView *tree;
        ~Collapse() { tree->collapseAll(); }
    } collapse{trvCars};
    fill.placeVehicles(*model, *Automation);
}

kp::app::SelectionVehicles TForm1::selectedVehicles() const {
    return kp::app::vehiclesOfSelection(trvCars->selectedInOrder());
}

void TForm1::trvCarsChange() {
    const QModelIndex current = trvCars->currentIndex();
    if (!current.isValid()) return;
    if (const TCarsParams *car = kp::app::carRecord(current)) {
        EnableParamControls(1, true);
        EnableParamControls(2, true);
        LoadCarParams(car->Device);
    } else {
        EnableParamControls(1, false);
        EnableParamControls(2, true);
    }
}

void TForm1::EnableParamControls(int kind, bool on) {
    if (kind == 1) {
        cmbGroup->setEnabled(on);
        cmbSubGroup->setEnabled(on);
        if (!on) {
            cmbGroup->setCurrentIndex(-1);
            cmbSubGroup->setCurrentIndex(-1);
        }
    } else if (kind == 2) {
        for (QComboBox *box : {cmbD1, cmbD2, cmbD3, cmbD4}) {
            box->setEnabled(on);
            box->setCurrentIndex(0); // "N/A"
        }
    }
}

void TForm1::LoadCarParams(std::int32_t device) {
    const kp::config::CarParams saved = kp::config::CarsFile().panelParams(device);
    choosePosition(cmbGroup, saved.group - 1);
    cmbGroupChange();
    choosePosition(cmbSubGroup, saved.subgroup - 1);
    QComboBox *roles[kp::config::kInputCount] = {cmbD1, cmbD2, cmbD3, cmbD4};
    for (int i = 0; i < kp::config::kInputCount; ++i)
        choosePosition(roles[i], saved.roles[i] - 1);
}

void TForm1::cmbGroupChange() {
    cmbSubGroup->clear();
    const int group = storedValue(cmbGroup);
    cmbSubGroup->addItems(kp::config::SubgroupsFile().names(group));
    cmbSubGroup->setCurrentIndex(-1);
}

void TForm1::btnChangeParamsClick() {
    const kp::app::SelectionVehicles selection = selectedVehicles();
    {
        kp::config::CarsFile cars;
        const kp::config::InputRoles roles{storedValue(cmbD1), storedValue(cmbD2),
                                           storedValue(cmbD3), storedValue(cmbD4)};
        if (selection.wholeNode) {
            // A group's vehicles get the same input roles and keep their group and subgroup.
            for (const TCarsParams *car : selection.vehicles)
                cars.saveRoles(car->Device, roles);
        } else {
            const kp::config::CarParams params{storedValue(cmbGroup), storedValue(cmbSubGroup),
                                               roles};
            for (const TCarsParams *car : selection.vehicles)
                cars.saveParams(car->Device, params);
        }
    }
    // The records above belong to the nodes this discards.
    FillCarsTree();
}

void TForm1::N2Click() {
    auto editor = std::make_unique<TForm2>();
    Form2 = editor.get();
    struct Forget {
        ~Forget() { Form2 = nullptr; }
    } forget;
    editor->exec();
    FillCarsTree(); // whether or not anything changed
}
