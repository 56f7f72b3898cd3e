#!/usr/bin/python3
"""Writes the SQL of a demo workshop of realistic size: a few hundred clients with Spanish
names, their devices and repairs, and budgets in pesos and dollars.

    demo-data.py [--seed N] [--clients N] [--repairs N] [--until YYYY-MM-DD] > demo-large.sql

The output is UTF-8 (scripts/create-db converts it to Windows-1252), one insert a line and a
single commit at the end, so isql loads it in one transaction. The same seed and date give the
same script. Every repair has at most one budget. Load it after workshop/schema.sql, instead of
workshop/demo.sql.
"""

import argparse
import datetime
import random
import sys
import unicodedata

FIRST_NAMES = [
    "José", "María", "Inés", "Martín", "Sofía", "Agustín", "Joaquín", "Lucía", "Ramón",
    "Verónica", "Héctor", "Raúl", "Mónica", "Andrés", "Nicolás", "Julián", "Valentín",
    "Germán", "Ángela", "Óscar", "Matías", "Tomás", "Florencia", "Camila", "Álvaro", "Begoña",
    "Rocío", "Sebastián", "Cecilia", "Gonzalo", "Patricia", "Ignacio", "Natalia", "Rubén",
    "Leticia", "Marcelo", "Paola", "Hernán", "Jimena", "Fabián", "Noemí", "Efraín", "Elena",
    "Diego", "Carolina", "Juan Pablo", "Ana Inés", "María José", "Luis Ángel", "Pilar",
]
SURNAMES = [
    "Núñez", "Peña", "Muñoz", "Gómez", "Fernández", "Rodríguez", "Pérez", "López",
    "Martínez", "González", "Sánchez", "Díaz", "Álvarez", "Benítez", "Giménez", "Suárez",
    "Acuña", "Ibáñez", "Ordóñez", "Castro", "Silva", "Olivera", "Sosa", "Cabrera", "Méndez",
    "Rocha", "Viñas", "Cardozo", "Pintos", "Larrañaga", "Echeverría", "Báez", "Ferreira",
    "Quiñones", "Techera", "Sarasúa", "Maidana", "Agüero", "De León", "Da Silva",
]
BUSINESSES = [
    "Ferretería El Ñandú", "Hotel Colón S.A.", "Panadería La Española & Cía",
    "Almacén Don Ramón", "Bar Tabaré", "Estudio Jurídico Pérez & Asociados",
    "Clínica Veterinaria San Martín", "Peluquería D'Artagnan", "Escuela Nº 145",
    "Cooperativa Agraria Limitada", "Farmacia Cordón", "Óptica Aramburú",
]

DEVICE_TYPES = [
    ("Televisor", ["Samsung", "LG", "Philips", "Sony", "TCL", "Panavox"]),
    ("Lavarropas", ["Drean", "Whirlpool", "Samsung", "Electrolux", "James"]),
    ("Heladera", ["Patrick", "Whirlpool", "Electrolux", "Mabe", "Gafa"]),
    ("Microondas", ["Panavox", "Samsung", "LG", "Smart Life"]),
    ("Aire acondicionado", ["Midea", "Samsung", "BGH", "Hisense", "Tokyo"]),
    ("Notebook", ["Lenovo", "HP", "Dell", "Asus", "Acer"]),
    ("Celular", ["Samsung", "Motorola", "Xiaomi", "Apple", "Huawei"]),
    ("Cafetera", ["Oster", "Nespresso", "Philips", "Dolce Gusto"]),
    ("Aspiradora", ["Philips", "Electrolux", "Karcher", "Black & Decker"]),
    ("Equipo de audio", ["Sony", "Pioneer", "JBL", "Panasonic"]),
]
FAULTS = [
    "No enciende, hace clic al conectar",
    "Pantalla con líneas verticales",
    "Pérdida de agua en el centrifugado",
    "No enfría; el motor arranca y se corta",
    "Hace ruido al centrifugar",
    "Se reinicia solo cada pocos minutos",
    "La batería no carga",
    "Imagen sin sonido",
    "Olor a quemado después de media hora de uso",
    "El control remoto no responde",
    "No calienta",
    "Tapa del filtro rota",
    "Gotea agua por el frente",
    "Pantalla rota por caída",
    "No lee el pendrive ni el disco",
    "Revisión general y limpieza",
    "Enciende la luz pero no arranca el compresor",
    "Teclado con teclas que no responden",
    "Pierde la señal del wifi",
    "El tambor no gira; la bomba desagota bien",
]
REPORTS = [
    "Cambio de fuente de alimentación",
    "Sustitución de compresor y carga de gas",
    "Rulemanes y retén del tambor",
    "Cambio de placa principal",
    "Reemplazo de tira de LEDs de la pantalla",
    "Limpieza, lubricación y ajuste general",
    "Cambio de batería original",
    "Reparación de plaqueta; cambio de capacitores",
    "Cambio de bomba de desagote",
    "Sustitución de módulo de pantalla (repuesto importado)",
    "Cambio de termostato y burlete de puerta",
    "Reemplazo de teclado; limpieza interna",
    "Cambio de resistencia y fusible térmico",
    "Mano de obra y diagnóstico",
]
# Repair states 1 to 5 and budget states 1 to 3, as the workshop names them.
STATES = ["Recibido", "En diagnóstico", "En reparación", "Listo para retirar", "Entregado"]
BUDGET_STATES = ["Pendiente", "Aceptado", "Rechazado"]


def sql_text(value):
    if value is None:
        return "null"
    return "'" + value.replace("'", "''") + "'"


def ascii_fold(text):
    return "".join(c for c in unicodedata.normalize("NFKD", text) if ord(c) < 128)


def login_for(name, taken):
    parts = [p for p in ascii_fold(name).lower().replace("'", "").split() if p.isalpha()]
    base = (parts[0][0] + parts[-1]) if len(parts) > 1 else (parts[0] if parts else "cliente")
    login, n = base, 1
    while login in taken:
        n += 1
        login = "%s%d" % (base, n)
    taken.add(login)
    return login


def password(rng):
    words = ["ñandú", "camión", "mate", "rambla", "tero", "ombú", "cielito", "pampa", "sol"]
    return "%s%d" % (rng.choice(words), rng.randint(1, 999))


def client_name(rng):
    if rng.random() < 0.06:
        return rng.choice(BUSINESSES)
    first = rng.choice(FIRST_NAMES)
    surname = rng.choice(SURNAMES)
    if rng.random() < 0.35:
        surname += " " + rng.choice(SURNAMES)
    return first + " " + surname


def money(rng, currency):
    if currency == "USD":
        return "%d.%02d" % (rng.randint(35, 900), rng.choice([0, 0, 50, 99]))
    return "%d.00" % (rng.randint(8, 250) * 100 + rng.choice([0, 0, 50]))


def generate(out, seed, clients, repairs, until):
    rng = random.Random(seed)
    w = out.write
    w("-- Demo workshop: %d clients, %d repairs (seed %d, up to %s).\n"
      % (clients, repairs, seed, until.isoformat()))
    w("insert into empresa values ('Taller Electrónico Güemes', 'Av. Rivera 2345', "
      "'Montevideo', 'Montevideo', '11300', '2707 1234', 'taller@example.com', "
      "'www.example.com');\n")
    for i, name in enumerate(STATES, 1):
        w("insert into estado values (%d, %s);\n" % (i, sql_text(name)))
    for i, name in enumerate(BUDGET_STATES, 1):
        w("insert into estadopresup values (%d, %s);\n" % (i, sql_text(name)))
    w("insert into monedas values ('UYU', 'Pesos uruguayos');\n")
    w("insert into monedas values ('USD', 'Dólares');\n")
    for i, (name, _) in enumerate(DEVICE_TYPES, 1):
        w("insert into tipo_aparato values (%d, %s);\n" % (i, sql_text(name)))

    logins = set()
    for code in range(1, clients + 1):
        name = client_name(rng)
        w('insert into clientes (codigo, nombres, login, "PASSWORD") values (%d, %s, %s, %s);\n'
          % (code, sql_text(name), sql_text(login_for(name, logins)), sql_text(password(rng))))

    budget = 0
    first_day = until - datetime.timedelta(days=150)
    for code in range(1, repairs + 1):
        type_code = rng.randint(1, len(DEVICE_TYPES))
        brand = rng.choice(DEVICE_TYPES[type_code - 1][1])
        model = "%s-%d%s" % (ascii_fold(brand)[:2].upper(), rng.randint(100, 9999),
                             rng.choice(["", "A", "X", "Pro"]))
        serial = "%s%06d" % (ascii_fold(DEVICE_TYPES[type_code - 1][0])[:2].upper(), code)
        w("insert into aparato values (%s, %s, %s, %d);\n"
          % (sql_text(serial), sql_text(brand), sql_text(model), type_code))
        # Older repairs are further along.
        received = first_day + datetime.timedelta(days=150 * (code - 1) // repairs)
        age = (until - received).days
        state = min(5, 1 + age // 25 + rng.randint(0, 1))
        w("insert into reparaciones (codigo, cliente, ns, falla, fechaingreso, estado) "
          "values (%d, %d, %s, %s, '%s', %d);\n"
          % (code, rng.randint(1, clients), sql_text(serial), sql_text(rng.choice(FAULTS)),
             received.isoformat(), state))
        if state >= 2 and rng.random() < 0.8:
            budget += 1
            currency = "USD" if rng.random() < 0.3 else "UYU"
            budget_state = 1 if state <= 2 else rng.choice([2, 2, 2, 3])
            day = min(until, received + datetime.timedelta(days=rng.randint(1, 6)))
            w("insert into presupuestos (codigo, idreparacion, estado, fecha, detalle, moneda, "
              "total) values (%d, %d, %d, '%s', %s, '%s', %s);\n"
              % (budget, code, budget_state, day.isoformat(), sql_text(rng.choice(REPORTS)),
                 currency, money(rng, currency)))
    w("commit;\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=15318)
    parser.add_argument("--clients", type=int, default=300)
    parser.add_argument("--repairs", type=int, default=420)
    parser.add_argument("--until", type=datetime.date.fromisoformat,
                        default=datetime.date.today(),
                        help="the last day of the demo's history (default: today)")
    args = parser.parse_args()
    if args.clients < 1 or args.repairs < 0:
        parser.error("--clients must be at least 1 and --repairs at least 0")
    generate(sys.stdout, args.seed, args.clients, args.repairs, args.until)
    return 0


if __name__ == "__main__":
    sys.exit(main())
