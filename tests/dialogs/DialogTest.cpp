#include "tests/dialogs/DialogTest.h"

#include <QApplication>
#include <QTest>

namespace fesko::test {

// Accented letters are Windows-1252 bytes, as the workshop system stores them. The repair 100
// has two budgets and the repair 101 none; empresa has a second row nobody should see.
const char kWorkshopRows[] =
    "insert into empresa values ('Taller G\374emes & C\355a', 'Av. Italia <1234>', "
    "'Montevideo', 'Canelones', '11300', '099 123 456', 'taller@fesko.uy', 'www.fesko.uy');\n"
    "insert into empresa values ('Otra', 'x', 'x', 'x', 'x', 'x', 'x', 'x');\n"
    "insert into estadopresup values (1, 'Pendiente');\n"
    "insert into estadopresup values (2, 'Aprobado & cobrado');\n"
    "insert into estado values (1, 'En diagn\xF3stico');\n"
    "insert into estado values (2, 'Terminado');\n"
    "insert into monedas values ('USD', 'D\xF3lares');\n"
    "insert into monedas values ('UYU', 'Pesos');\n"
    "insert into clientes (codigo, nombres, login, \"PASSWORD\") "
    "values (1, 'Pe\361a|Motores', 'jpena', 'clave<1>');\n"
    "insert into clientes (codigo, nombres, login, \"PASSWORD\") values (2, 'Ana', 'ana', null);\n"
    "insert into tipo_aparato values (1, 'Televisor');\n"
    "insert into aparato values ('NS1', 'Sony', 'KV-21', 1);\n"
    "insert into reparaciones (codigo, cliente, ns, falla, fechaingreso, estado) "
    "values (100, 1, 'NS1', 'No enciende', '2024-03-01', 1);\n"
    "insert into reparaciones (codigo, cliente, ns, falla, fechaingreso, estado) "
    "values (101, 2, 'NS9', 'Pantalla rota', '2024-03-02', 2);\n"
    "insert into presupuestos (codigo, idreparacion, estado, fecha, detalle, moneda, total) "
    "values (500, 100, 1, '2024-03-03', 'Fuente', 'USD', 1500.5);\n"
    "insert into presupuestos (codigo, idreparacion, estado, fecha, detalle, moneda, total) "
    "values (501, 100, 2, '2024-03-04', 'Placa', 'UYU', 20);\n";

DialogTest::DialogTest()
    : Workshop("dialogs",
               {.config = nullptr, .web = false, .rows = kWorkshopRows, .database = false}) {}

void DialogTest::Show(QWidget& dialog) {
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
}

std::string Describe(const std::vector<ScriptedMessageBoxes::Box>& boxes) {
  std::string out;
  for (const auto& box : boxes) {
    out += WideToUtf8(box.caption) + "|" + WideToUtf8(box.text) + "|" + std::to_string(box.flags) +
           "\n";
  }
  return out;
}

}  // namespace fesko::test
