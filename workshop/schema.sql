-- The part of the workshop system's database that Fesko reads and writes, with the triggers
-- that keep the change columns and post Fesko's five events. Dialect 3; Fesko attaches with
-- no character set, so texts are stored as Windows-1252 bytes (scripts/create-db converts
-- this UTF-8 file on the way in).

create table parametros (
  appweburl      varchar(250),
  tiempoupdapp   integer,
  licenciaappweb varchar(20)
);

create table clientes (
  codigo     integer not null primary key,
  nombres    varchar(120),
  login      varchar(40),
  "PASSWORD" varchar(40),
  fecha_aud  date,
  hora_aud   time
);

create table tipo_aparato (
  codigo integer not null primary key,
  nombre varchar(60)
);

create table aparato (
  ns          varchar(40) not null primary key,
  marca       varchar(60),
  modelo      varchar(60),
  tipoaparato integer
);

create table estado (
  codigo integer not null primary key,
  nombre varchar(60)
);

create table estadopresup (
  codigo integer not null primary key,
  nombre varchar(60)
);

create table monedas (
  codigo char(3) not null primary key,
  nombre varchar(40)
);

create table reparaciones (
  codigo       integer not null primary key,
  cliente      integer,
  ns           varchar(40),
  falla        varchar(400),
  fechaingreso date,
  estado       integer,
  fecha_aud    date,
  hora_aud     time
);

create table presupuestos (
  codigo       integer not null primary key,
  idreparacion integer,
  estado       integer,
  fecha        date,
  detalle      varchar(1000),
  moneda       char(3),
  total        numeric(15,2),
  fecha_aud    date,
  hora_aud     time
);

create table empresa (
  nombre       varchar(120),
  direccion    varchar(120),
  localidad    varchar(60),
  departamento varchar(60),
  cp           char(5),
  telefono     varchar(40),
  correoe      varchar(80),
  paginaweb    varchar(120)
);

create index reparaciones_aud on reparaciones (fecha_aud, hora_aud);
create index clientes_aud on clientes (fecha_aud, hora_aud);
create index presupuestos_aud on presupuestos (fecha_aud, hora_aud);
create index presupuestos_rep on presupuestos (idreparacion);

set term ^ ;

create trigger clientes_aud for clientes active before insert or update position 0 as
begin
  new.fecha_aud = current_date;
  new.hora_aud = cast(current_time as time);
end^

create trigger clientes_nuevo for clientes active after insert position 10 as
begin
  post_event 'Enviar_Cliente_Xml';
end^

create trigger clientes_editado for clientes active after update position 10 as
begin
  post_event 'Actualizar_Cliente_Xml';
end^

create trigger reparaciones_aud for reparaciones active before insert or update position 0 as
begin
  new.fecha_aud = current_date;
  new.hora_aud = cast(current_time as time);
end^

create trigger reparaciones_nueva for reparaciones active after insert position 10 as
begin
  post_event 'Nueva_Reparacion';
end^

create trigger reparaciones_editada for reparaciones active after update position 10 as
begin
  post_event 'Editar_Reparacion';
end^

create trigger presupuestos_aud for presupuestos active before insert or update position 0 as
begin
  new.fecha_aud = current_date;
  new.hora_aud = cast(current_time as time);
end^

create trigger presupuestos_editado for presupuestos active after insert or update position 10 as
begin
  post_event 'Editar_Presupuesto';
end^

set term ; ^

insert into parametros (appweburl, tiempoupdapp, licenciaappweb)
  values ('http://127.0.0.1:8081/', 1, '15318');

commit;
