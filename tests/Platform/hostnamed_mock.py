'''hostnamed for the host-name test: the names given in the parameters, on a private bus.'''
import dbus

BUS_NAME = 'org.freedesktop.hostname1'
MAIN_OBJ = '/org/freedesktop/hostname1'
MAIN_IFACE = 'org.freedesktop.hostname1'
SYSTEM_BUS = True


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, {
        'PrettyHostname': dbus.String(parameters.get('PrettyHostname', '')),
        'Hostname': dbus.String(parameters.get('Hostname', 'mockhost')),
    })
