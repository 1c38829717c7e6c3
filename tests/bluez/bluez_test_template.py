'''A hand-built BlueZ for the Bluetooth tests.

Objects are made on request through the control methods below, each with exactly the BlueZ
methods the tests need: the stock bluez5 template installs its methods on every object and its
Connect never resolves services.
'''

import dbus
from gi.repository import GLib

from dbusmock import MOCK_IFACE, OBJECT_MANAGER_IFACE, mockobject

BUS_NAME = 'org.bluez'
MAIN_OBJ = '/'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

ADAPTER = 'org.bluez.Adapter1'
DEVICE = 'org.bluez.Device1'
SERVICE = 'org.bluez.GattService1'
CHARACTERISTIC = 'org.bluez.GattCharacteristic1'
DESCRIPTOR = 'org.bluez.GattDescriptor1'

connect_modes = {}
failing_writes = {}
failing_notify = {}
writes = {}
notify_calls = {}


def load(mock, parameters):
    pass


def _object(path):
    return mockobject.objects[str(path)]


def _add(main, path, interface, props, methods, announce):
    main.AddObject(path, interface, props, [])
    obj = _object(path)
    for name, in_sig, out_sig, fn in methods:
        obj.AddMethod(interface, name, in_sig, out_sig, fn)
    if announce:
        main.object_manager_emit_added(path)
    return obj


def _forget_rssi(path):
    props = _object(path).props[DEVICE]
    if 'RSSI' in props:
        del props['RSSI']
        _object(path).EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as',
                                 [DEVICE, dbus.Dictionary({}, signature='sv'), ['RSSI']])


def _stop_discovery(adapter):
    # Like BlueZ: once discovery ends, no device counts as heard any more.
    for path, obj in list(mockobject.objects.items()):
        if DEVICE in obj.props and path.startswith(adapter.path + '/'):
            _forget_rssi(path)


@dbus.service.method(MOCK_IFACE, in_signature='ssb', out_signature='')
def AddAdapter(self, path, address, powered):
    _add(self, path, ADAPTER, {
        'Address': dbus.String(address),
        'Powered': dbus.Boolean(powered),
        'Discovering': dbus.Boolean(False),
    }, [
        ('SetDiscoveryFilter', 'a{sv}', '', lambda obj, *a: None),
        ('StartDiscovery', '', '', lambda obj: None),
        ('StopDiscovery', '', '', _stop_discovery),
    ], True)


@dbus.service.method(MOCK_IFACE, in_signature='sb', out_signature='')
def SetPowered(self, path, powered):
    _object(path).UpdateProperties(ADAPTER, {'Powered': dbus.Boolean(powered)})


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def RemoveTestObject(self, path):
    self.object_manager_emit_removed(path)
    self.RemoveObject(path)


def _resolve(obj):
    if obj.props[DEVICE]['Connected']:
        obj.UpdateProperties(DEVICE, {'ServicesResolved': dbus.Boolean(True)})
    return False


def _connect(obj):
    mode = connect_modes.get(obj.path, 'resolve')
    if mode == 'fail':
        raise dbus.exceptions.DBusException('Page timeout', name='org.bluez.Error.Failed')
    if mode.startswith('org.bluez.Error.'):
        raise dbus.exceptions.DBusException(mode, name=mode)
    if mode == 'hang':
        return
    obj.UpdateProperties(DEVICE, {'Connected': dbus.Boolean(True)})
    GLib.timeout_add(50, _resolve, obj)


def _disconnect(obj):
    obj.UpdateProperties(DEVICE, {'Connected': dbus.Boolean(False), 'ServicesResolved': dbus.Boolean(False)})


@dbus.service.method(MOCK_IFACE, in_signature='ssssasb', out_signature='')
def AddDevice(self, path, adapter, address, alias, uuids, announce):
    _add(self, path, DEVICE, {
        'Address': dbus.String(address),
        'Adapter': dbus.ObjectPath(adapter),
        'Alias': dbus.String(alias),
        'UUIDs': dbus.Array(uuids, signature='s'),
        'RSSI': dbus.Int16(-50),
        'Connected': dbus.Boolean(False),
        'ServicesResolved': dbus.Boolean(False),
    }, [
        ('Connect', '', '', _connect),
        ('Disconnect', '', '', _disconnect),
    ], announce)


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def MakeCached(self, path):
    '''The device is known to BlueZ (a paired one always is) but not heard: it has no RSSI.'''
    _forget_rssi(path)


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def SetConnectMode(self, path, mode):
    connect_modes[path] = mode


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def DropConnection(self, path):
    _disconnect(_object(path))


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def AddService(self, path, uuid):
    _add(self, path, SERVICE, {'UUID': dbus.String(uuid), 'Primary': dbus.Boolean(True)}, [], False)


def _write(obj, value, options):
    writes.setdefault(obj.path, []).append((dbus.ByteArray(bytes(bytearray(value))),
                                            dbus.String(str(options.get('type', '')))))
    if obj.path in failing_writes:
        name, message = failing_writes[obj.path]
        raise dbus.exceptions.DBusException(message, name=name)


def _start_notify(obj):
    notify_calls.setdefault(obj.path, []).append('StartNotify')
    if obj.path in failing_notify:
        name, message = failing_notify[obj.path]
        raise dbus.exceptions.DBusException(message, name=name)


def _stop_notify(obj):
    notify_calls.setdefault(obj.path, []).append('StopNotify')


def _read(obj, options):
    return dbus.ByteArray(b'')


@dbus.service.method(MOCK_IFACE, in_signature='ssasq', out_signature='')
def AddCharacteristic(self, path, uuid, flags, mtu):
    props = {
        'UUID': dbus.String(uuid),
        'Flags': dbus.Array(flags, signature='s'),
        'Value': dbus.Array([], signature='y'),
    }
    if mtu:
        props['MTU'] = dbus.UInt16(mtu)
    _add(self, path, CHARACTERISTIC, props, [
        ('WriteValue', 'aya{sv}', '', _write),
        ('ReadValue', 'a{sv}', 'ay', _read),
        ('StartNotify', '', '', _start_notify),
        ('StopNotify', '', '', _stop_notify),
    ], False)
    if 'notify' in flags or 'indicate' in flags:
        _add(self, path + '/desc0', DESCRIPTOR,
             {'UUID': dbus.String('00002902-0000-1000-8000-00805f9b34fb')},
             [('ReadValue', 'a{sv}', 'ay', _read)], False)


@dbus.service.method(MOCK_IFACE, in_signature='sb', out_signature='')
def FailWrites(self, path, fail):
    FailWritesWith(self, path, 'org.bluez.Error.Failed' if fail else '', 'Write refused')


@dbus.service.method(MOCK_IFACE, in_signature='sss', out_signature='')
def FailWritesWith(self, path, name, message):
    '''Writes to the characteristic fail with that BlueZ error; an empty name lets them succeed.'''
    if name:
        failing_writes[path] = (name, message)
    else:
        failing_writes.pop(path, None)


@dbus.service.method(MOCK_IFACE, in_signature='sss', out_signature='')
def FailNotify(self, path, name, message):
    '''StartNotify on the characteristic fails with that BlueZ error.'''
    failing_notify[path] = (name, message)


@dbus.service.method(MOCK_IFACE, in_signature='say', out_signature='')
def Notify(self, path, value):
    _object(path).UpdateProperties(CHARACTERISTIC, {'Value': dbus.Array(bytearray(value), signature='y')})


@dbus.service.method(MOCK_IFACE, in_signature='sq', out_signature='')
def SetMtu(self, path, mtu):
    _object(path).UpdateProperties(CHARACTERISTIC, {'MTU': dbus.UInt16(mtu)})


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='a(ays)')
def WriteLog(self, path):
    return dbus.Array(writes.get(path, []), signature='(ays)')


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='as')
def NotifyLog(self, path):
    return dbus.Array(notify_calls.get(path, []), signature='s')


@dbus.service.method(MOCK_IFACE, in_signature='sn', out_signature='')
def SetRssi(self, path, rssi):
    '''The device advertises and BlueZ hears it (again).'''
    obj = _object(path)
    obj.props[DEVICE]['RSSI'] = dbus.Int16(rssi)
    obj.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as',
                   [DEVICE, dbus.Dictionary({'RSSI': dbus.Int16(rssi)}, signature='sv'), []])


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def Announce(self, path):
    self.object_manager_emit_added(path)
