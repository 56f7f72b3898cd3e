// The initial loads against the workshop database and the stand-in web service: what each
// dialog shows, the documents that arrive, and the state a failure leaves behind.
#include <QApplication>
#include <QHeaderView>
#include <QTest>

#include "dialogs/UInicDatosEmpresa.h"
#include "dialogs/UInicEstados.h"
#include "dialogs/UniciarTodo.h"
#include "tests/dialogs/DialogTest.h"

using namespace fesko;
using namespace fesko::dlg;

namespace {

constexpr char kHeader[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";

// A document as the web service reads it: header, lines joined by CR LF, no final line break.
std::string Document(std::initializer_list<std::string_view> lines) {
  std::string out = kHeader;
  bool first = true;
  for (std::string_view line : lines) {
    if (!first) out += "\r\n";
    out += line;
    first = false;
  }
  return out;
}

// The company document: each field on a line of its own.
std::string CompanyDocument(std::initializer_list<const char*> values) {
  static const char* const kTags[] = {"EmpresaNombre", "EmpresaDireccion", "EmpresaLocalidad",
                                      "EmpresaEstado", "EmpresaCP",        "EmpresaTelefono",
                                      "EmpresaEmail",  "EmpresaWeb"};
  std::string fields;
  const char* const* tag = kTags;
  for (const char* value : values) {
    fields += "<" + std::string(*tag) + ">" + value + "</" + *tag + ">\r\n";
    ++tag;
  }
  return Document({"<Empresa>", fields + "</Empresa>"});
}
const std::string kCompanyDocument =
    CompanyDocument({"Taller Güemes &amp; Cía", "Av. Italia &lt;1234&gt;", "Montevideo",
                     "Canelones", "11300", "099 123 456", "taller@fesko.uy", "www.fesko.uy"});

// A list document: `outer` and `list` around one `item` per row, its fields `tags` in order.
using Rows = std::initializer_list<std::initializer_list<const char*>>;
std::string ListDocument(std::string_view outer, std::string_view list, std::string_view item,
                         std::initializer_list<const char*> tags, Rows rows) {
  std::string items;
  for (const auto& values : rows) {
    items += "<" + std::string(item) + ">";
    for (auto tag = tags.begin(), value = values.begin(); tag != tags.end(); ++tag, ++value) {
      items += "\r\n<" + std::string(*tag) + ">" + *value + "</" + *tag + ">";
    }
    items += "\r\n</" + std::string(item) + ">\r\n";
  }
  return Document({"<" + std::string(outer) + ">", "<" + std::string(list) + ">",
                   items + "</" + std::string(list) + ">", "</" + std::string(outer) + ">"});
}
std::string CodeNames(std::string_view outer, std::string_view list, std::string_view item,
                      Rows rows) {
  return ListDocument(outer, list, item, {"Codigo", "Nombre"}, rows);
}

const std::string kBudgetStatesDocument = CodeNames(
    "Estados", "ListaEstados", "Estado", {{"1", "Pendiente"}, {"2", "Aprobado &amp; cobrado"}});
const std::string kCurrenciesDocument =
    CodeNames("Monedas", "ListaMonedas", "Moneda", {{"USD", "Dolares"}, {"UYU", "Pesos"}});
const std::string kStatesDocument = CodeNames("EstadosReparaciones", "ListaEstados", "Estado",
                                              {{"1", "En diagnostico"}, {"2", "Terminado"}});
const std::string kClientsDocument =
    ListDocument("Clientes", "ListaClientes", "Cliente", {"Codigo", "Nombre", "Login", "Password"},
                 {{"1", "Pena Motores", "jpena", "clave&lt;1&gt;"}, {"2", "Ana", "ana", ""}});
// The repair with two budgets comes once per budget, the one without a budget once.
const std::string kRepairsDocument = ListDocument(
    "Reparaciones", "ListaReparaciones", "Reparacion",
    {"Orden", "Cliente", "TipoDeEquipo", "Marca", "Modelo", "NS", "Falla", "FechaDeIngreso",
     "Estado", "EstadoRep", "FechaDePresupuesto", "InformeAlCliente", "MonedasCodigo", "Total"},
    {{"100", "1", "Televisor", "Sony", "KV-21", "NS1", "No enciende", "01/03/2024", "1", "1",
      "03/03/2024", "Fuente", "USD", "1500.5"},
     {"100", "1", "Televisor", "Sony", "KV-21", "NS1", "No enciende", "01/03/2024", "2", "1",
      "04/03/2024", "Placa", "UYU", "20"},
     {"101", "2", "", "", "", "NS9", "Pantalla rota", "02/03/2024", "", "2", "", "", "", ""}});

// The column titles and widths of the clients' grid, in every dialog that shows one.
const std::vector<std::string> kClientTitles = {"Código 50", "Nombre 115", "Login 74",
                                                "Password 73"};

class InitialLoadTest : public test::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    WriteConfig("[conexion]\nipserver=localhost\n");
    OpenDatabase();
    StartWeb();
  }
  // Changes the schema with the program's connection closed, as the server wants.
  void Alter(const std::string& sql) {
    data->service.Close();
    Sql(sql);
    data->service.Open();
  }
  std::vector<std::string> Pages() {
    std::vector<std::string> pages;
    for (const auto& call : web->Received()) pages.push_back(call.page);
    return pages;
  }
};

std::vector<std::string> GridTitles(const QTableWidget* grid) {
  std::vector<std::string> titles;
  for (int c = 0; c < grid->columnCount(); ++c) {
    titles.push_back(GridCell(grid, c, 0).toStdString() + " " +
                     std::to_string(grid->columnWidth(c)));
  }
  return titles;
}

}  // namespace

// ---- Company ----

TEST_F(InitialLoadTest, TheCompanyDialogShowsTheFirstRowAndSendsItEscapedOnly) {
  TFrmIniDatosEmpresa form(*data, BaseUrl());
  form.SetModo(1);
  Show(form);
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Inicializar Empresa"));
  EXPECT_EQ(form.LbTitulo->text(), QStringLiteral("Inicializar Datos de la Empresa"));
  EXPECT_EQ(form.txtempresa->text(), QStringLiteral("Taller Güemes & Cía"));
  EXPECT_EQ(form.txtdepartamento->text(), QStringLiteral("Canelones"));
  EXPECT_EQ(form.txtcorreoe->text(), QStringLiteral("taller@fesko.uy"));
  EXPECT_EQ(form.txtpagweb->text(), QStringLiteral("www.fesko.uy"));
  EXPECT_TRUE(form.txtempresa->isReadOnly());
  EXPECT_FALSE(form.cartel->isVisible());
  EXPECT_TRUE(boxes.Boxes().empty());

  boxes.SetNextAnswer(IDNO);
  form.btninicial->click();
  EXPECT_TRUE(web->Received().empty());
  EXPECT_TRUE(form.btninicial->isEnabled());

  // The notice stands while the call runs.
  boxes.SetOnShow([&](const ScriptedMessageBoxes::Box& box) {
    if (box.flags == 64) {
      EXPECT_TRUE(form.cartel->isVisible());
      EXPECT_FALSE(form.btnSalir->isEnabled());
    }
  });
  for (int run = 0; run < 2; ++run) {
    boxes.SetNextAnswer(IDYES);
    form.btninicial->click();
  }
  auto calls = web->Received("aupload_inicializar_empresa.aspx");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].readfilexmls, kCompanyDocument);
  EXPECT_EQ(calls[1].readfilexmls, kCompanyDocument);
  EXPECT_EQ(calls[0].idcompra, "15318");
  EXPECT_EQ(calls[0].accepted, "1");
  EXPECT_EQ(test::Describe(boxes.Boxes()),
            "Inicializar Empresa|¿Esta Seguro que Inicializar Datos de la Empresa?|36\n"
            "Inicializar Empresa|¿Esta Seguro que Inicializar Datos de la Empresa?|36\n"
            "Envio Exitoso|Se Enviaron con Exito los datos|64\n"
            "Inicializar Empresa|¿Esta Seguro que Inicializar Datos de la Empresa?|36\n"
            "Envio Exitoso|Se Enviaron con Exito los datos|64\n");
  EXPECT_FALSE(form.cartel->isVisible());
  EXPECT_TRUE(form.btninicial->isEnabled());
  EXPECT_TRUE(form.btnSalir->isEnabled());
  EXPECT_TRUE(form.isVisible());
}

TEST_F(InitialLoadTest, AnEmptyCompanyTableSendsEightEmptyElements) {
  Sql("delete from empresa;");
  TFrmIniDatosEmpresa form(*data, BaseUrl());
  form.SetModo(1);
  Show(form);
  EXPECT_TRUE(form.txtempresa->text().isEmpty());
  boxes.SetNextAnswer(IDYES);
  form.btninicial->click();
  auto calls = web->Received();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].readfilexmls, CompanyDocument({"", "", "", "", "", "", "", ""}));
}

TEST_F(InitialLoadTest, ACompanyFailureLeavesTheDialogBusyAndF9SendsAgain) {
  TFrmIniDatosEmpresa form(*data, BaseUrl());
  form.SetModo(1);
  Show(form);

  web->Fail("aupload_inicializar_empresa.aspx", "500fault");
  boxes.SetNextAnswer(IDYES);
  form.btninicial->click();
  auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 2u) << test::Describe(shown);
  EXPECT_EQ(shown[1].caption, u"Dunmar");
  EXPECT_EQ(shown[1].text, u"Server was unable to process request.");
  EXPECT_TRUE(form.cartel->isVisible());
  EXPECT_FALSE(form.btninicial->isEnabled());
  EXPECT_FALSE(form.btnSalir->isEnabled());

  // The key acts although its button is disabled.
  boxes.Clear();
  web->Fail("aupload_inicializar_empresa.aspx", "none");
  boxes.SetNextAnswer(IDYES);
  QTest::keyClick(&form, Qt::Key_F9);
  EXPECT_EQ(boxes.Boxes().back().caption, u"Envio Exitoso");
  EXPECT_FALSE(form.cartel->isVisible());
  EXPECT_TRUE(form.btninicial->isEnabled());
  EXPECT_EQ(web->Received().size(), 2u);

  // A database error while sending: rolled back, shown, nothing sent, still busy.
  boxes.Clear();
  Alter("drop table parametros;");
  boxes.SetNextAnswer(IDYES);
  form.btninicial->click();
  shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 2u) << test::Describe(shown);
  EXPECT_EQ(shown[1].caption, u"error de consulta");
  EXPECT_TRUE(shown[1].text.starts_with(u"Error en la actualizacion de datos\r\nMensaje: "));
  EXPECT_EQ(web->Received().size(), 2u);
  EXPECT_TRUE(form.cartel->isVisible());
  EXPECT_FALSE(form.btnSalir->isEnabled());
  EXPECT_FALSE(data->transaccion.Active());

  // Esc still closes it.
  QTest::keyClick(&form, Qt::Key_Escape);
  EXPECT_FALSE(form.isVisible());
}

// ---- Lists ----

TEST_F(InitialLoadTest, EveryListModeHasItsCaptionsGridDocumentAndService) {
  struct Expected {
    int mode;
    const char16_t* name;
    QString window, title, group, button;
    std::vector<std::string> titles;
    int rows;
    std::string page, document, success;
  };
  const std::vector<std::string> codeName = {"Código 64", "Nombre 250"};
  const std::vector<std::string> repairTitles = {
      "Orden 40",       "Cliente 40",    "Tipo Equipo 70",   "Marca 70",
      "Modelo 75",      "NS 40",         "Falla 100",        "Fecha Ing. 65",
      "Estado 65",      "Estado Rep 65", "Fecha Presup. 65", "Informe 100",
      "Cod. Moneda 40", "Total 55"};
  const std::vector<Expected> modes = {
      {1, u"Estados", "Inicializar Estados", "Inicializar Estados", "Lista de Estados",
       "Inicializar Estados [F9]", codeName, 2, "aupload_inicializar_estados.aspx",
       kBudgetStatesDocument, "Se Registraron Con Exito los Datos de Inicializacion de Estados"},
      {2, u"Monedas", "Inicializar Monedas", "Inicializar Monedas", "Lista de Monedas",
       "Inicializar Monedas [F9]", codeName, 2, "aupload_inicializar_monedas.aspx",
       kCurrenciesDocument, "Se Registraron Con Exito los Datos de Inicializacion de Monedas"},
      {3, u"Clientes", "Inicializar Clientes", "Inicializar Clientes", "Lista de Clientes",
       "Inicializar Clientes [F9]", kClientTitles, 2, "aupload_inicializar_clientes.aspx",
       kClientsDocument, "Se Registraron Con Exito los Datos de Inicializacion de Clientes"},
      {4, u"Reparaciones", "Inicializar Reparaciones", "Inicializar Reparacion", "Reparaciones",
       "Inicializar Reparaciones [F9]", repairTitles, 3, "aupload_inicializar_reparaciones.aspx",
       kRepairsDocument, "Se Registraron Con Exito los Datos de Reparaciones"},
      {5, u"Estados de Reparaciones", "Inicializar Estados", "Inicializar Estados",
       "Lista de Estados", "Inicializar Estados [F9]", codeName, 2,
       "aupload_inicializar_estados_reparaciones.aspx", kStatesDocument,
       "Se Registraron Con Exito los Datos de Inicializacion de Estados de Reparaciones"},
  };
  for (const Expected& expected : modes) {
    SCOPED_TRACE("mode " + std::to_string(expected.mode));
    boxes.Clear();
    web->Reset();
    TFrmInicEstados form(*data, BaseUrl());
    form.SetModo(expected.mode);
    form.SetNombre(expected.name);
    Show(form);
    EXPECT_EQ(form.windowTitle(), expected.window);
    EXPECT_EQ(form.LbTitulo->text(), expected.title);
    EXPECT_EQ(form.grupo1->title(), expected.group);
    EXPECT_EQ(form.btninicialiar->text(), expected.button);
    EXPECT_EQ(GridTitles(form.Grillaestados), expected.titles);
    // Title row, one row per record, one empty row.
    EXPECT_EQ(GridRowCount(form.Grillaestados), expected.rows + 2);
    for (int c = 0; c < form.Grillaestados->columnCount(); ++c) {
      EXPECT_TRUE(GridCell(form.Grillaestados, c, expected.rows + 1).isEmpty());
    }
    EXPECT_EQ(form.Grillaestados->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff,
              expected.mode != 4);
    EXPECT_EQ(QApplication::focusWidget(), form.btninicialiar);
    EXPECT_TRUE(boxes.Boxes().empty()) << test::Describe(boxes.Boxes());
    // Tab leaves the grid for the next control instead of walking its cells.
    form.Grillaestados->setFocus();
    QTest::keyClick(form.Grillaestados, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.btninicialiar);

    // Enter on the focused button starts the sending, with its question.
    boxes.SetNextAnswer(IDYES);
    QTest::keyClick(form.btninicialiar, Qt::Key_Return);
    auto calls = web->Received();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].page, expected.page);
    EXPECT_EQ(calls[0].readfilexmls, expected.document);
    EXPECT_EQ(calls[0].idcompra, "15318");
    EXPECT_EQ(test::Describe(boxes.Boxes()),
              "Inicializar Datos|¿Esta Seguro que Desea Inicalizar datos de " +
                  WideToUtf8(expected.name) + "?|36\nRegistración Exitosa|" + expected.success +
                  "|64\n");
    EXPECT_FALSE(form.Cartel->isVisible());
    EXPECT_TRUE(form.btnSalir->isEnabled());
    EXPECT_TRUE(form.isVisible());
  }
}

TEST_F(InitialLoadTest, TheGridShowsTextsAsStoredWhileTheDocumentIsEncoded) {
  TFrmInicEstados form(*data, BaseUrl());
  form.SetModo(3);
  form.SetNombre(u"Clientes");
  Show(form);
  EXPECT_EQ(GridCell(form.Grillaestados, 1, 1), QStringLiteral("Peña|Motores"));
  EXPECT_EQ(GridCell(form.Grillaestados, 3, 1), QStringLiteral("clave<1>"));  // in clear
  EXPECT_EQ(GridCell(form.Grillaestados, 0, 2), QStringLiteral("2"));
  EXPECT_EQ(form.Grillaestados->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(form.Grillaestados->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(form.Grillaestados->verticalHeader()->defaultSectionSize(), 16);
}

TEST_F(InitialLoadTest, AnEmptyTableIsStillSentAndRowsAddedLaterAreSentToo) {
  Sql("delete from monedas;");
  TFrmInicEstados form(*data, BaseUrl());
  form.SetModo(2);
  form.SetNombre(u"Monedas");
  Show(form);
  EXPECT_EQ(GridRowCount(form.Grillaestados), 2);
  boxes.SetNextAnswer(IDYES);
  form.btninicialiar->click();
  Sql("insert into monedas values ('EUR', 'Euros');");
  boxes.SetNextAnswer(IDYES);
  form.btninicialiar->click();

  auto calls = web->Received();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].readfilexmls, CodeNames("Monedas", "ListaMonedas", "Moneda", {}));
  EXPECT_EQ(calls[1].readfilexmls,
            CodeNames("Monedas", "ListaMonedas", "Moneda", {{"EUR", "Euros"}}));
  EXPECT_EQ(GridRowCount(form.Grillaestados), 2);  // the grid is as it was when opened
  EXPECT_EQ(boxes.Boxes().back().flags, 64);
}

TEST_F(InitialLoadTest, AListFailureLeavesTheDialogBusyAndF9SendsAgain) {
  TFrmInicEstados form(*data, BaseUrl());
  form.SetModo(4);
  form.SetNombre(u"Reparaciones");
  Show(form);
  web->Fail("*", "404");
  boxes.SetNextAnswer(IDYES);
  form.btninicialiar->click();
  auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 2u) << test::Describe(shown);
  EXPECT_EQ(shown[1].caption, u"Dunmar");
  EXPECT_TRUE(form.Cartel->isVisible());
  EXPECT_FALSE(form.btninicialiar->isEnabled());
  EXPECT_FALSE(form.btnSalir->isEnabled());

  // The web service may take minutes to import a whole table: an answer after 90 s, well past
  // the 60 s any other call waits, is a success.
  web->Fail("*", "stall", 90, 1);
  boxes.SetNextAnswer(IDYES);
  QTest::keyClick(form.Grillaestados, Qt::Key_F9);
  auto calls = web->Received();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].readfilexmls, kRepairsDocument);
  EXPECT_FALSE(form.Cartel->isVisible());
  EXPECT_TRUE(form.btninicialiar->isEnabled());

  // An account number that is not a number fails the same way, before anything is sent.
  boxes.Clear();
  Sql("update parametros set licenciaappweb = 'abc';");
  boxes.SetNextAnswer(IDYES);
  form.btninicialiar->click();
  ASSERT_EQ(boxes.Boxes().size(), 2u);
  EXPECT_EQ(boxes.Boxes()[1].text, u"'abc' is not a valid integer value");
  EXPECT_TRUE(form.Cartel->isVisible());
  EXPECT_EQ(web->Received().size(), 2u);
}

TEST_F(InitialLoadTest, ListDatabaseErrorsAreShownInTheirOwnWords) {
  Alter("drop table estado;");
  {
    TFrmInicEstados form(*data, BaseUrl());
    form.SetModo(5);
    form.SetNombre(u"Estados de Reparaciones");
    Show(form);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, u"Error de consulta");
    EXPECT_TRUE(boxes.Boxes()[0].text.starts_with(u"Error en la busqueda de estados\r\nMensaje: "));
    EXPECT_FALSE(data->transaccion.Active());
    EXPECT_TRUE(form.isVisible());
  }
  boxes.Clear();
  Alter("drop table parametros;");
  TFrmInicEstados form(*data, BaseUrl());
  form.SetModo(1);
  form.SetNombre(u"Estados");
  Show(form);
  EXPECT_TRUE(boxes.Boxes().empty());
  boxes.SetNextAnswer(IDYES);
  form.btninicialiar->click();
  ASSERT_EQ(boxes.Boxes().size(), 2u);
  EXPECT_EQ(boxes.Boxes()[1].caption, u"error de consulta");
  EXPECT_TRUE(boxes.Boxes()[1].text.starts_with(u"error en la busqueda de estados\r\n"));
  // The account number is read before the notice shows: the dialog stays idle.
  EXPECT_FALSE(form.Cartel->isVisible());
  EXPECT_TRUE(form.btninicialiar->isEnabled());
  EXPECT_TRUE(web->Received().empty());
}

// ---- Everything ----

TEST_F(InitialLoadTest, InitialiseEverythingSendsFiveDocumentsInOrder) {
  TFrmIniciarTodo form(*data, BaseUrl());
  Show(form);
  EXPECT_EQ(form.size(), QSize(756, 552));
  EXPECT_EQ(form.txtempresa->text(), QStringLiteral("Taller Güemes & Cía"));
  EXPECT_EQ(GridRowCount(form.Grillaestados), 4);
  EXPECT_EQ(GridRowCount(form.Grillamonedas), 4);
  EXPECT_EQ(GridRowCount(form.Grillaclientes), 4);
  EXPECT_EQ(GridRowCount(form.Grillareparaciones), 5);
  EXPECT_EQ(GridCell(form.Grillaestados, 1, 2), QStringLiteral("Aprobado & cobrado"));
  EXPECT_EQ(GridTitles(form.Grillaclientes), kClientTitles);
  EXPECT_EQ(form.Grillareparaciones->horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
  EXPECT_EQ(QApplication::focusWidget(), form.btnIniciartodo);

  boxes.SetNextAnswer(IDNO);
  QTest::keyClick(form.btnIniciartodo, Qt::Key_Return);
  EXPECT_TRUE(web->Received().empty());

  boxes.SetNextAnswer(IDYES);
  form.btnIniciartodo->click();
  auto calls = web->Received();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].page, "aupload_inicializar_empresa.aspx");
  EXPECT_EQ(calls[0].readfilexmls, kCompanyDocument);
  EXPECT_EQ(calls[1].page, "aupload_inicializar_estados.aspx");
  EXPECT_EQ(calls[1].readfilexmls, kBudgetStatesDocument);
  EXPECT_EQ(calls[2].page, "aupload_inicializar_monedas.aspx");
  EXPECT_EQ(calls[2].readfilexmls, kCurrenciesDocument);
  EXPECT_EQ(calls[3].page, "aupload_inicializar_clientes.aspx");
  EXPECT_EQ(calls[3].readfilexmls, kClientsDocument);
  EXPECT_EQ(calls[4].page, "aupload_inicializar_reparaciones.aspx");
  EXPECT_EQ(calls[4].readfilexmls, kRepairsDocument);
  for (const auto& call : calls) EXPECT_EQ(call.idcompra, "15318");
  EXPECT_EQ(test::Describe(boxes.Boxes()),
            "Inicalizar Todo|¿Esta Seguro que Quiere Inicializar Todo los Valores?|36\n"
            "Inicalizar Todo|¿Esta Seguro que Quiere Inicializar Todo los Valores?|36\n"
            "Inicialización Exitosa|Se Inicializaron Con Exito Todos los Datos|64\n");
  EXPECT_FALSE(form.cartel->isVisible());
  EXPECT_TRUE(form.btnsalir->isEnabled());
  EXPECT_FALSE(data->transaccion.Active());
}

TEST_F(InitialLoadTest, AFailureAtTheClientsStopsTheRunWithTheFirstThreeSent) {
  TFrmIniciarTodo form(*data, BaseUrl());
  Show(form);
  web->Fail("aupload_inicializar_clientes.aspx", "500fault");
  boxes.SetNextAnswer(IDYES);
  form.btnIniciartodo->click();
  EXPECT_EQ(Pages(), (std::vector<std::string>{
                         "aupload_inicializar_empresa.aspx", "aupload_inicializar_estados.aspx",
                         "aupload_inicializar_monedas.aspx", "aupload_inicializar_clientes.aspx"}));
  auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 2u) << test::Describe(shown);
  EXPECT_EQ(shown[1].caption, u"Dunmar");
  EXPECT_TRUE(form.cartel->isVisible());
  EXPECT_FALSE(form.btnIniciartodo->isEnabled());
  EXPECT_FALSE(form.btnsalir->isEnabled());

  // F9 starts a new run from the company on.
  web->Reset();
  boxes.SetNextAnswer(IDYES);
  QTest::keyClick(&form, Qt::Key_F9);
  EXPECT_EQ(web->Received().size(), 5u);
  EXPECT_FALSE(form.cartel->isVisible());
}
