-- A few rows of a small workshop, for trying the program by hand.
insert into empresa values ('Taller Electrónico Güemes', 'Av. Rivera 2345', 'Montevideo',
  'Montevideo', '11300', '2707 1234', 'taller@example.com', 'www.example.com');

insert into estado values (1, 'Recibido');
insert into estado values (2, 'En diagnóstico');
insert into estado values (3, 'En reparación');
insert into estado values (4, 'Listo para retirar');
insert into estado values (5, 'Entregado');

insert into estadopresup values (1, 'Pendiente');
insert into estadopresup values (2, 'Aceptado');
insert into estadopresup values (3, 'Rechazado');

insert into monedas values ('UYU', 'Pesos uruguayos');
insert into monedas values ('USD', 'Dólares');

insert into tipo_aparato values (1, 'Televisor');
insert into tipo_aparato values (2, 'Lavarropas');
insert into tipo_aparato values (3, 'Heladera');

insert into aparato values ('TV-55A-001', 'Samsung', 'UN55AU7000', 1);
insert into aparato values ('LR-8KG-017', 'Drean', 'Next 8.14', 2);
insert into aparato values ('HE-NF-330', 'Patrick', 'HPK350', 3);

insert into clientes (codigo, nombres, login, "PASSWORD")
  values (1, 'José Peña', 'jpena', 'ñandú1');
insert into clientes (codigo, nombres, login, "PASSWORD")
  values (2, 'María Inés Núñez', 'minunez', 'camión22');
insert into clientes (codigo, nombres, login, "PASSWORD")
  values (3, 'Agustín Olivera & Hijos', 'aolivera', 'clave<3>');

insert into reparaciones (codigo, cliente, ns, falla, fechaingreso, estado)
  values (1, 1, 'TV-55A-001', 'No enciende, hace clic al conectar', '2026-11-30', 3);
insert into reparaciones (codigo, cliente, ns, falla, fechaingreso, estado)
  values (2, 2, 'LR-8KG-017', 'Pérdida de agua en el centrifugado', '2026-12-02', 2);
insert into reparaciones (codigo, cliente, ns, falla, fechaingreso, estado)
  values (3, 3, 'SIN-SERIE', 'Revisión general', '2026-12-04', 1);

insert into presupuestos (codigo, idreparacion, estado, fecha, detalle, moneda, total)
  values (1, 1, 1, '2026-12-01', 'Cambio de fuente de alimentación', 'UYU', 4500.00);
insert into presupuestos (codigo, idreparacion, estado, fecha, detalle, moneda, total)
  values (2, 2, 2, '2026-12-03', 'Sellos y rulemán del tambor', 'USD', 120.50);

commit;
