// The workshop system as the demo plays it: clients, repairs and budgets created and edited one
// action at a time, each action in its own committed transaction as the management system's
// users would make it, and now and then a budget state decided by the customer on the web.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "database/Datamodule.h"

namespace fesko::workshop {

enum class Action {
  NuevoCliente,
  EditarCliente,
  NuevaReparacion,
  EstadoReparacion,
  NuevoPresupuesto,
  EditarPresupuesto,
  EstadoDesdeLaWeb,
};

// Puts a budget state in the web service's queue for the agent's poll; raises when it cannot.
using WebQueue =
    std::function<void(int idcompra, const std::string& orden, const std::string& estado)>;

class WorkshopSimulator {
 public:
  // `data.service` must be connected. Without a web queue no state is decided on the web.
  WorkshopSimulator(db::TDataModule1& data, unsigned seed, WebQueue web = {});

  // One action, chosen at random among those the workshop's data allows now; its line in
  // UTF-8. A database error rolls the action back and passes out.
  std::string Act();
  // That action; "" when the data allows none (no pending budget, say).
  std::string Act(Action action);

  // One line for each state decided on the web that has reached presupuestos since the
  // last call.
  std::vector<std::string> ArrivalsFromTheWeb();
  // Repairs whose budget state was sent to the web and has not come back yet.
  int PendingFromTheWeb() const { return static_cast<int>(pending_.size()); }

 private:
  std::string NuevoCliente();
  std::string EditarCliente();
  std::string NuevaReparacion();
  std::string EstadoReparacion();
  std::string NuevoPresupuesto();
  std::string EditarPresupuesto();
  std::string EstadoDesdeLaWeb();

  // Runs `work` in a transaction of its own: committed when it returns, rolled back when it
  // raises.
  template <typename Fn>
  auto Unit(Fn&& work);
  int Pick(int count);
  template <typename Items>
  const auto& PickOne(const Items& items) {
    return items[static_cast<std::size_t>(Pick(static_cast<int>(items.size())))];
  }
  // One of the first `n` items: the newest, for the lists that run newest first.
  template <typename Items>
  const auto& PickAmongFirst(const Items& items, int n) {
    return items[static_cast<std::size_t>(Pick(std::min(n, static_cast<int>(items.size()))))];
  }
  std::string NewPassword();
  std::string StateName(int code) const;
  std::string BudgetStateName(int code) const;

  db::TDataModule1& data_;
  std::mt19937 random_;
  WebQueue web_;
  int idcompra_ = 0;
  std::map<int, std::string> states_;         // estado: code -> name (UTF-8)
  std::map<int, std::string> budget_states_;  // estadopresup
  // Repairs whose budget the customer decided on the web: the workshop leaves those budgets
  // alone from then on. pending_ holds the ones whose state has not arrived yet.
  std::map<int, int> decided_;
  std::map<int, int> pending_;
};

}  // namespace fesko::workshop
