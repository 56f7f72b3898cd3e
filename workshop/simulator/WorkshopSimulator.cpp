#include "workshop/simulator/WorkshopSimulator.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "base/TextKinds.h"
#include "database/MDOQuery.h"
#include "database/UnitOfWork.h"

namespace fesko::workshop {
namespace {

using db::TMDOQuery;

// The workshop's own words, in UTF-8; the database gets them as Windows-1252.
constexpr std::array<std::string_view, 30> kFirstNames = {
    "José",   "María",    "Inés",     "Martín", "Sofía",   "Agustín", "Joaquín",   "Lucía",
    "Ramón",  "Verónica", "Héctor",   "Raúl",   "Mónica",  "Andrés",  "Nicolás",   "Julián",
    "Germán", "Ángela",   "Óscar",    "Matías", "Tomás",   "Rocío",   "Sebastián", "Begoña",
    "Álvaro", "Noemí",    "Ana Inés", "Efraín", "Cecilia", "Rubén"};
constexpr std::array<std::string_view, 26> kSurnames = {
    "Núñez",   "Peña",     "Muñoz",     "Gómez",      "Fernández", "Rodríguez", "Pérez",
    "López",   "Martínez", "González",  "Sánchez",    "Díaz",      "Álvarez",   "Benítez",
    "Giménez", "Suárez",   "Acuña",     "Ibáñez",     "Ordóñez",   "Olivera",   "Sosa",
    "Méndez",  "Viñas",    "Larrañaga", "Echeverría", "Báez"};
constexpr std::array<std::string_view, 8> kPasswordWords = {"ñandú", "camión", "mate",    "rambla",
                                                            "tero",  "ombú",   "cielito", "pampa"};

struct DeviceType {
  int code;
  std::string_view name;
  std::array<std::string_view, 3> brands;
  std::array<std::string_view, 3> faults;
};
// Codes of tipo_aparato in the demo workshop; a type missing from the table only leaves the
// device's type name empty.
constexpr std::array<DeviceType, 6> kDeviceTypes = {{
    {1,
     "Televisor",
     {"Samsung", "LG", "Philips"},
     {"No enciende", "Pantalla con líneas verticales", "Imagen sin sonido"}},
    {2,
     "Lavarropas",
     {"Drean", "Whirlpool", "James"},
     {"Pérdida de agua en el centrifugado", "Hace ruido al centrifugar",
      "No desagota; el tambor gira"}},
    {3,
     "Heladera",
     {"Patrick", "Electrolux", "Mabe"},
     {"No enfría", "Gotea agua por el frente", "El motor arranca y se corta"}},
    {4,
     "Microondas",
     {"Panavox", "Samsung", "LG"},
     {"No calienta", "Olor a quemado & chispas al encender", "El plato no gira"}},
    {6,
     "Notebook",
     {"Lenovo", "HP", "Asus"},
     {"Se reinicia sola", "La batería no carga",
      "Revisión general; el cliente dice que \"anda lenta\""}},
    {7,
     "Celular",
     {"Motorola", "Xiaomi", "Samsung"},
     {"Pantalla rota por caída", "La batería no carga", "No toma señal"}},
}};
constexpr std::array<std::string_view, 8> kReports = {
    "Cambio de fuente de alimentación", "Sustitución de compresor y carga de gas",
    "Rulemanes y retén del tambor",     "Cambio de placa principal",
    "Reemplazo de tira de LEDs",        "Limpieza, lubricación y ajuste general",
    "Cambio de batería original",       "Reparación de plaqueta; cambio de capacitores"};

constexpr int kPendiente = 1;
constexpr int kAceptado = 2;
constexpr int kRechazado = 3;
constexpr int kEntregado = 5;

TMDOQuery& Load(TMDOQuery& query, std::string_view statement) {
  query.Close();
  query.SQL().Clear();
  query.SQL().Add(statement);
  return query;
}

std::vector<int> Codes(TMDOQuery& query) {
  std::vector<int> codes;
  query.Open();
  for (query.First(); !query.Eof(); query.Next()) codes.push_back(query.Fields(0).AsInteger());
  return codes;
}

int MaxPlusOne(TMDOQuery& query, std::string_view table) {
  Load(query, "select coalesce(max(codigo), 0) + 1 from " + std::string(table)).Open();
  return query.Fields(0).AsInteger();
}

std::string Utf8(TMDOQuery& query, int column) {
  return AnsiToUtf8(query.Fields(column).AsString());
}

// "4.500,00", as the workshop writes amounts.
std::string Money(const std::string& currency, int cents) {
  std::string whole = std::to_string(cents / 100);
  for (int at = static_cast<int>(whole.size()) - 3; at > 0; at -= 3) {
    whole.insert(static_cast<std::size_t>(at), 1, '.');
  }
  std::string fraction = std::to_string(100 + cents % 100).substr(1);
  return currency + " " + whole + "," + fraction;
}

std::string Quoted(std::string_view text) {
  return "«" + std::string(text) + "»";
}

}  // namespace

template <typename Fn>
auto WorkshopSimulator::Unit(Fn&& work) {
  decltype(work()) result{};
  try {
    db::RunUnitOfWork(data_, [&] { result = work(); });
  } catch (...) {
    // A failed action ends its transaction here, not at the start of the next one.
    try {
      if (data_.transaccion.Active()) data_.transaccion.Rollback();
    } catch (...) {
      // The first error is the one worth reporting.
    }
    throw;
  }
  return result;
}

WorkshopSimulator::WorkshopSimulator(db::TDataModule1& data, unsigned seed, WebQueue web)
    : data_(data), random_(seed), web_(std::move(web)) {
  Unit([this] {
    TMDOQuery& q = data_.Consulta;
    Load(q, "select licenciaappweb from parametros").Open();
    if (!q.IsEmpty()) idcompra_ = std::atoi(q.Fields(0).AsString().c_str());
    for (auto [table, names] : {std::pair{"estado", &states_}, {"estadopresup", &budget_states_}}) {
      Load(q, std::string("select codigo, nombre from ") + table).Open();
      for (q.First(); !q.Eof(); q.Next()) (*names)[q.Fields(0).AsInteger()] = Utf8(q, 1);
    }
    return 0;
  });
}

std::string WorkshopSimulator::NewPassword() {
  return std::string(PickOne(kPasswordWords)) + std::to_string(1 + Pick(999));
}

int WorkshopSimulator::Pick(int count) {
  return std::uniform_int_distribution<int>(0, count - 1)(random_);
}

std::string WorkshopSimulator::StateName(int code) const {
  auto it = states_.find(code);
  return it == states_.end() ? std::to_string(code) : it->second;
}

std::string WorkshopSimulator::BudgetStateName(int code) const {
  auto it = budget_states_.find(code);
  return it == budget_states_.end() ? std::to_string(code) : it->second;
}

std::string WorkshopSimulator::Act() {
  struct Weighted {
    Action action;
    int weight;
  };
  static constexpr std::array<Weighted, 7> kMix = {{
      {Action::NuevoCliente, 14},
      {Action::EditarCliente, 12},
      {Action::NuevaReparacion, 18},
      {Action::EstadoReparacion, 20},
      {Action::NuevoPresupuesto, 14},
      {Action::EditarPresupuesto, 10},
      {Action::EstadoDesdeLaWeb, 12},
  }};
  int total = 0;
  for (const Weighted& w : kMix) total += w.weight;
  // An action the data does not allow now gives way to another; a new client is always
  // possible, so the last try settles it.
  for (int attempt = 0; attempt < 8; ++attempt) {
    int roll = Pick(total);
    Action chosen = kMix.back().action;
    for (const Weighted& w : kMix) {
      if (roll < w.weight) {
        chosen = w.action;
        break;
      }
      roll -= w.weight;
    }
    if (std::string line = Act(chosen); !line.empty()) return line;
  }
  return Act(Action::NuevoCliente);
}

std::string WorkshopSimulator::Act(Action action) {
  switch (action) {
    case Action::NuevoCliente:
      return NuevoCliente();
    case Action::EditarCliente:
      return EditarCliente();
    case Action::NuevaReparacion:
      return NuevaReparacion();
    case Action::EstadoReparacion:
      return EstadoReparacion();
    case Action::NuevoPresupuesto:
      return NuevoPresupuesto();
    case Action::EditarPresupuesto:
      return EditarPresupuesto();
    case Action::EstadoDesdeLaWeb:
      return EstadoDesdeLaWeb();
  }
  return {};
}

std::string WorkshopSimulator::NuevoCliente() {
  std::string name = std::string(PickOne(kFirstNames)) + " " + std::string(PickOne(kSurnames));
  if (Pick(3) == 0) name.append(" ").append(PickOne(kSurnames));
  std::string password = NewPassword();
  int code = Unit([&] {
    TMDOQuery& q = data_.Consulta;
    int code = MaxPlusOne(q, "clientes");
    Load(q,
         "insert into clientes (codigo, nombres, login, \"PASSWORD\") "
         "values (:codigo, :nombres, :login, :clave)");
    q.ParamByName("codigo").SetAsInteger(code);
    q.ParamByName("nombres").SetAsString(Utf8ToAnsi(name));
    q.ParamByName("login").SetAsString("cliente" + std::to_string(code));
    q.ParamByName("clave").SetAsString(Utf8ToAnsi(password));
    q.ExecSQL();
    return code;
  });
  return "nuevo cliente " + std::to_string(code) + " " + Quoted(name);
}

std::string WorkshopSimulator::EditarCliente() {
  return Unit([&]() -> std::string {
    TMDOQuery& q = data_.Consulta;
    std::vector<int> codes = Codes(Load(q, "select codigo from clientes"));
    if (codes.empty()) return {};
    int code = PickOne(codes);
    Load(q, "select nombres from clientes where codigo = :codigo");
    q.ParamByName("codigo").SetAsInteger(code);
    q.Open();
    std::string name = Utf8(q, 0);
    std::string line = "cliente " + std::to_string(code) + " " + Quoted(name) + ": ";
    if (Pick(2) == 0) {
      std::string password = NewPassword();
      Load(q, "update clientes set \"PASSWORD\" = :clave where codigo = :codigo");
      q.ParamByName("clave").SetAsString(Utf8ToAnsi(password));
      line += "nueva contraseña";
    } else {
      // The workshop completes a name with the second surname, or drops one it had wrong.
      auto last_blank = name.rfind(' ');
      auto first_blank = name.find(' ');
      if (last_blank != std::string::npos && last_blank != first_blank) {
        name.erase(last_blank);
      } else {
        name.append(" ").append(PickOne(kSurnames));
      }
      Load(q, "update clientes set nombres = :nombres where codigo = :codigo");
      q.ParamByName("nombres").SetAsString(Utf8ToAnsi(name));
      line += "corrige el nombre a " + Quoted(name);
    }
    q.ParamByName("codigo").SetAsInteger(code);
    q.ExecSQL();
    return line;
  });
}

std::string WorkshopSimulator::NuevaReparacion() {
  const DeviceType& type = PickOne(kDeviceTypes);
  std::string brand(PickOne(type.brands));
  std::string model = brand.substr(0, 2) + "-" + std::to_string(100 + Pick(9900));
  model[1] = static_cast<char>(std::toupper(static_cast<unsigned char>(model[1])));
  std::string fault(PickOne(type.faults));
  return Unit([&]() -> std::string {
    TMDOQuery& q = data_.Consulta;
    std::vector<int> clients = Codes(Load(q, "select codigo from clientes order by codigo desc"));
    if (clients.empty()) return {};
    // New clients mostly come in with a device.
    int client = Pick(5) < 2 ? clients.front() : PickOne(clients);
    int code = MaxPlusOne(q, "reparaciones");
    std::string serial = std::string(type.name.substr(0, 2)) + "-S" + std::to_string(code);
    std::transform(serial.begin(), serial.end(), serial.begin(), [](char c) {
      return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    Load(q,
         "update or insert into aparato (ns, marca, modelo, tipoaparato) "
         "values (:ns, :marca, :modelo, :tipo) matching (ns)");
    q.ParamByName("ns").SetAsString(serial);
    q.ParamByName("marca").SetAsString(Utf8ToAnsi(brand));
    q.ParamByName("modelo").SetAsString(Utf8ToAnsi(model));
    q.ParamByName("tipo").SetAsInteger(type.code);
    q.ExecSQL();
    Load(q,
         "insert into reparaciones (codigo, cliente, ns, falla, fechaingreso, estado) "
         "values (:codigo, :cliente, :ns, :falla, current_date, 1)");
    q.ParamByName("codigo").SetAsInteger(code);
    q.ParamByName("cliente").SetAsInteger(client);
    q.ParamByName("ns").SetAsString(serial);
    q.ParamByName("falla").SetAsString(Utf8ToAnsi(fault));
    q.ExecSQL();
    return "nueva reparación " + std::to_string(code) + " del cliente " + std::to_string(client) +
           ": " + std::string(type.name) + " " + brand + " " + model + ", " + Quoted(fault);
  });
}

std::string WorkshopSimulator::EstadoReparacion() {
  return Unit([&]() -> std::string {
    TMDOQuery& q = data_.Consulta;
    Load(q, "select codigo from reparaciones where estado < :entregado order by codigo desc");
    q.ParamByName("entregado").SetAsInteger(kEntregado);
    std::vector<int> codes = Codes(q);
    if (codes.empty()) return {};
    // The bench works mostly on the latest repairs.
    int code = Pick(5) < 3 ? PickAmongFirst(codes, 30) : PickOne(codes);
    Load(q, "select estado from reparaciones where codigo = :codigo");
    q.ParamByName("codigo").SetAsInteger(code);
    q.Open();
    int from = q.Fields(0).AsInteger();
    int to = std::clamp(from + 1, 1, kEntregado);
    Load(q, "update reparaciones set estado = :estado where codigo = :codigo");
    q.ParamByName("estado").SetAsInteger(to);
    q.ParamByName("codigo").SetAsInteger(code);
    q.ExecSQL();
    return "reparación " + std::to_string(code) + ": " + StateName(from) + " → " + StateName(to);
  });
}

std::string WorkshopSimulator::NuevoPresupuesto() {
  std::string report(PickOne(kReports));
  std::string currency = Pick(10) < 3 ? "USD" : "UYU";
  int cents = currency == "USD" ? (35 + Pick(600)) * 100 + (Pick(2) ? 50 : 0)
                                : (8 + Pick(200)) * 10000 + (Pick(2) ? 5000 : 0);
  return Unit([&]() -> std::string {
    TMDOQuery& q = data_.Consulta;
    // One budget per repair: the workshop edits the one it has.
    std::vector<int> repairs =
        Codes(Load(q,
                   "select r.codigo from reparaciones r where r.estado between 1 and 3 and "
                   "not exists (select 1 from presupuestos p where p.idreparacion = r.codigo) "
                   "order by r.codigo desc"));
    if (repairs.empty()) return {};
    int repair = Pick(3) < 2 ? PickAmongFirst(repairs, 15) : PickOne(repairs);
    int code = MaxPlusOne(q, "presupuestos");
    Load(q,
         "insert into presupuestos (codigo, idreparacion, estado, fecha, detalle, moneda, "
         "total) values (:codigo, :reparacion, :estado, current_date, :detalle, :moneda, "
         ":total)");
    q.ParamByName("codigo").SetAsInteger(code);
    q.ParamByName("reparacion").SetAsInteger(repair);
    q.ParamByName("estado").SetAsInteger(kPendiente);
    q.ParamByName("detalle").SetAsString(Utf8ToAnsi(report));
    q.ParamByName("moneda").SetAsString(currency);
    q.ParamByName("total").SetAsCurrency(int64_t{cents} * 100);
    q.ExecSQL();
    return "nuevo presupuesto " + std::to_string(code) + " para la reparación " +
           std::to_string(repair) + ": " + Money(currency, cents) + " " + Quoted(report);
  });
}

std::string WorkshopSimulator::EditarPresupuesto() {
  return Unit([&]() -> std::string {
    TMDOQuery& q = data_.Consulta;
    Load(q,
         "select codigo, idreparacion, moneda, cast(total * 100 as integer) from presupuestos "
         "where estado = :pendiente order by codigo desc");
    q.ParamByName("pendiente").SetAsInteger(kPendiente);
    q.Open();
    struct Budget {
      int code, repair, cents;
      std::string currency;
    };
    std::vector<Budget> budgets;
    for (q.First(); !q.Eof(); q.Next()) {
      int repair = q.Fields(1).AsInteger();
      if (decided_.contains(repair)) continue;
      budgets.push_back(
          {q.Fields(0).AsInteger(), repair, q.Fields(3).AsInteger(), q.Fields(2).AsString()});
    }
    if (budgets.empty()) return {};
    const Budget& b = PickOne(budgets);
    std::string line = "presupuesto " + std::to_string(b.code) + " de la reparación " +
                       std::to_string(b.repair) + ": ";
    if (Pick(4) == 0) {
      // The customer answered by phone.
      int state = Pick(3) == 0 ? kRechazado : kAceptado;
      Load(q, "update presupuestos set estado = :estado where codigo = :codigo");
      q.ParamByName("estado").SetAsInteger(state);
      line += "el cliente llamó: " + Quoted(BudgetStateName(state));
    } else {
      // A part costs more or less than quoted: up or down by a few steps of about 5 %, in
      // round amounts (5 dollars, 50 pesos).
      int unit = b.currency == "USD" ? 500 : 5000;
      int step = std::max(unit, b.cents / 20 / unit * unit);
      int change = (1 + Pick(4)) * step;
      int cents = Pick(2) == 0 && b.cents - change >= unit ? b.cents - change : b.cents + change;
      Load(q, "update presupuestos set total = :total where codigo = :codigo");
      q.ParamByName("total").SetAsCurrency(int64_t{cents} * 100);
      line += Money(b.currency, b.cents) + " → " + Money(b.currency, cents);
    }
    q.ParamByName("codigo").SetAsInteger(b.code);
    q.ExecSQL();
    return line;
  });
}

std::string WorkshopSimulator::EstadoDesdeLaWeb() {
  if (!web_) return {};
  int repair = Unit([&] {
    TMDOQuery& q = data_.Consulta;
    Load(q,
         "select idreparacion from presupuestos where estado = :pendiente "
         "order by codigo desc");
    q.ParamByName("pendiente").SetAsInteger(kPendiente);
    std::vector<int> repairs = Codes(q);
    std::erase_if(repairs, [this](int r) { return decided_.contains(r); });
    return repairs.empty() ? 0 : PickOne(repairs);
  });
  if (repair == 0) return {};
  int state = Pick(4) == 0 ? kRechazado : kAceptado;
  web_(idcompra_, std::to_string(repair), std::to_string(state));
  decided_[repair] = state;
  pending_[repair] = state;
  return "web: el cliente marca " + Quoted(BudgetStateName(state)) +
         " el presupuesto de la reparación " + std::to_string(repair) +
         " (espera la consulta del agente)";
}

std::vector<std::string> WorkshopSimulator::ArrivalsFromTheWeb() {
  if (pending_.empty()) return {};
  return Unit([&] {
    std::vector<std::string> lines;
    TMDOQuery& q = data_.Consulta;
    Load(q, "select estado from presupuestos where idreparacion = :reparacion");
    for (auto it = pending_.begin(); it != pending_.end();) {
      q.Close();
      q.ParamByName("reparacion").SetAsInteger(it->first);
      q.Open();
      if (!q.IsEmpty() && q.Fields(0).AsInteger() == it->second) {
        lines.push_back("desde la web: el presupuesto de la reparación " +
                        std::to_string(it->first) + " quedó " +
                        Quoted(BudgetStateName(it->second)) + " en presupuestos");
        it = pending_.erase(it);
      } else {
        ++it;
      }
    }
    return lines;
  });
}

}  // namespace fesko::workshop
