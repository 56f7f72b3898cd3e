# Shared settings of the scripts: sourced, not run.
# The database user the tests and the demo use, so nothing needs the SYSDBA password.
FESKO_DB_HOST=${FESKO_DB_HOST:-localhost}
FESKO_DB_USER=${FESKO_DB_USER:-fesko}
FESKO_DB_PASSWORD=${FESKO_DB_PASSWORD:-fesko}
# A user without grants, for the tests of refused rights.
FESKO_DB_NORIGHTS_USER=${FESKO_DB_NORIGHTS_USER:-fesko_sin_permisos}
FESKO_DB_NORIGHTS_PASSWORD=${FESKO_DB_NORIGHTS_PASSWORD:-sinpermisos}
# Databases must live where the firebird user can write.
FESKO_DB_DIR=${FESKO_DB_DIR:-/var/lib/firebird/3.0/data/fesko}
FESKO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ISQL=${ISQL:-/usr/bin/isql-fb}

fesko_sudo() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Runs isql as SYSDBA with the password Debian generated at install time.
fesko_isql_sysdba() {
  local pw
  pw=$(fesko_sudo sh -c '. /etc/firebird/3.0/SYSDBA.password; printf %s "$ISC_PASSWORD"')
  "$ISQL" -q -user SYSDBA -password "$pw" "$@"
}
